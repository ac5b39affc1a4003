// The whole program opening a large cloud: from File > Open's load to the
// first presented frame that shows every point, and the peak memory of it.
//   load_bench --make LINES FILE   writes a cloud of LINES lines
//   load_bench FILE                opens it (needs a display) and reports
#include "Unit_view.h"
#include "Unit_vost.h"
#include "cloud_text.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include <sys/resource.h>

namespace {

void RunFor(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--make") {
        const std::string text = CloudText(std::stoul(argv[2]));
        std::ofstream(argv[3], std::ios::binary)
            .write(text.data(), static_cast<std::streamsize>(text.size()));
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: load_bench --make LINES FILE | load_bench FILE\n");
        return 2;
    }
    TApplication application;
    Application->Initialize();
    Application->CreateForm(control_Form);
    Application->CreateForm(view_Form);
    control_Form->Show();
    view_Form->Show();
    RunFor(std::chrono::milliseconds(500));

    const auto start = std::chrono::steady_clock::now();
    control_Form->Memo1->Lines->LoadFromFile(argv[1]);
    const auto loaded = std::chrono::steady_clock::now();
    rusage afterLoad{};
    getrusage(RUSAGE_SELF, &afterLoad);
    const int lines = control_Form->Memo1->Lines->Count();
    // The idle handler presents a frame only when every line is a point.
    const auto presented = PresentedFrames(view_Form->DC);
    while (PresentedFrames(view_Form->DC) == presented)
        QCoreApplication::processEvents();
    const auto shown = std::chrono::steady_clock::now();

    // A key in the text box at the end of the text, with its paint: work
    // there must not grow with the text before it.
    TMemo& memo = *control_Form->Memo1;
    memo.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
    memo.setFocus();
    RunFor(std::chrono::milliseconds(200));
    constexpr int kKeys = 20;
    const auto keysStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kKeys; ++i) {
        QKeyEvent press(QEvent::KeyPress, i % 2 ? Qt::Key_Down : Qt::Key_Up, Qt::NoModifier);
        QCoreApplication::sendEvent(&memo, &press);
        memo.viewport()->repaint();
    }
    const double keyMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - keysStart)
            .count() /
        kKeys;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::ifstream file(argv[1], std::ios::binary | std::ios::ate);
    const double fileMb = static_cast<double>(file.tellg()) / 1e6;
    const double seconds = std::chrono::duration<double>(shown - start).count();
    const double loadSeconds = std::chrono::duration<double>(loaded - start).count();
    const double peakMb = static_cast<double>(usage.ru_maxrss) / 1e3;
    const double budgetMb = 2 * fileMb + 16.0 * lines / 1e6;
    const std::string n = std::to_string(lines);
    std::printf("open_to_first_frame_%s_lines: %.2f s\n", n.c_str(), seconds);
    std::printf("load_into_text_box_%s_lines: %.2f s\n", n.c_str(), loadSeconds);
    std::printf("points_per_second_%s_lines: %.2f M/s\n", n.c_str(), lines / seconds / 1e6);
    std::printf("peak_memory_%s_lines: %.0f MB\n", n.c_str(), peakMb);
    std::printf("peak_memory_by_load_%s_lines: %.0f MB\n", n.c_str(),
                static_cast<double>(afterLoad.ru_maxrss) / 1e3);
    std::printf("memory_budget_%s_lines: %.0f MB\n", n.c_str(), budgetMb);
    std::printf("file_size_%s_lines: %.0f MB\n", n.c_str(), fileMb);
    std::printf("key_at_end_of_text_%s_lines: %.2f ms\n", n.c_str(), keyMs);
    Application->DestroyForms();
    return 0;
}
