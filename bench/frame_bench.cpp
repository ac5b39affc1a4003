// The program opening a large cloud in-process, its windows and GL on a
// display, timed frame by frame as the GUI thread lives it.
//   frame_bench FILE [PICTURE]   (a file of make_cloud's, whose last line is
//   the marker; PICTURE gets the last full picture's RGBA pixels)
#include "Unit_view.h"
#include "Unit_vost.h"
#include "application.h"
#include "glclient.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <QCoreApplication>
#include <QKeyEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

Tview_Form* View()
{
    return static_cast<Tview_Form*>(view_Form);
}

// Whether the frame in the back buffer shows the marker, (40, 40, 0) as the
// view shows it now.
bool MarkerDrawn()
{
    GLdouble modelview[16], projection[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    double eye[4] = {};
    for (int row = 0; row < 4; ++row)
        eye[row] = modelview[row] * 40 + modelview[4 + row] * 40 + modelview[12 + row];
    double clip[4] = {};
    for (int row = 0; row < 4; ++row)
        for (int k = 0; k < 4; ++k)
            clip[row] += projection[k * 4 + row] * eye[k];
    const int x = static_cast<int>((clip[0] / clip[3] + 1) / 2 * viewport[2]);
    const int y = static_cast<int>((clip[1] / clip[3] + 1) / 2 * viewport[3]);
    unsigned char pixels[3 * 3 * 4];
    glReadPixels(x - 1, y - 1, 3, 3, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    for (int i = 0; i < 9; ++i)
        if (pixels[i * 4] == 255 && pixels[i * 4 + 1] == 0)
            return true;
    return false;
}

// The back buffer's pixels.
std::vector<unsigned char> BackBuffer()
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    std::vector<unsigned char> pixels(static_cast<std::size_t>(viewport[2] * viewport[3] * 4));
    glReadPixels(0, 0, viewport[2], viewport[3], GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

// The idle calls of the program, each timed, as AppIdle makes them; a frame
// about to be presented is looked at for the marker, and, while `before`
// holds a picture, for whether it differs from it.
struct IdleCalls
{
    std::vector<double> ms;
    bool marker = false;
    std::vector<unsigned char> before;
    bool changed = false;
    void Install()
    {
        Application->SetOnIdle([this](TObject*, bool& done) {
            const auto start = Clock::now();
            done = false;
            View()->DrawFrame();
            const double drawn = Ms(Clock::now() - start);
            marker = MarkerDrawn();
            changed = !before.empty() && BackBuffer() != before;
            const auto presenting = Clock::now();
            QOpenGLContext::currentContext()->swapBuffers(View()->GLClient());
            ms.push_back(drawn + Ms(Clock::now() - presenting));
        });
    }
    double Longest() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

// Runs the loop until `done` holds; the time it took.
template <class F> double RunUntil(F done)
{
    const auto start = Clock::now();
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return Ms(Clock::now() - start);
}

// One draw call of all the file's points into a framebuffer of the view's
// size, finished: the time a picture takes in one piece.
double OneDraw(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> vertices;
    vertices.reserve(text.size() / 6);
    TStringList scratch;
    float point[3];
    for (std::size_t at = 0; at < text.size();)
        if (ConvertLine(NextLine(text, at), scratch, '.', point))
            vertices.insert(vertices.end(), point, point + 3);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLuint framebuffer = 0, renderbuffers[2] = {};
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(2, renderbuffers);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    const GLenum formats[] = {GL_RGBA8, GL_DEPTH_COMPONENT24};
    const GLenum attachments[] = {GL_COLOR_ATTACHMENT0, GL_DEPTH_ATTACHMENT};
    for (int i = 0; i < 2; ++i) {
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[i]);
        glRenderbufferStorage(GL_RENDERBUFFER, formats[i], viewport[2], viewport[3]);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachments[i], GL_RENDERBUFFER,
                                  renderbuffers[i]);
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices.data());
    double best = 1e9;
    for (int run = 0; run < 2; ++run) {
        const auto start = Clock::now();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(vertices.size() / 3));
        glFinish();
        best = std::min(best, Ms(Clock::now() - start));
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(2, renderbuffers);
    return best;
}

// Times a key from its delivery to the text box to the end of the paint it
// brings: paints are caught and done here, the time taken after.
class KeyToPaint : public QObject
{
public:
    double ms = -1;
    // A key typed, or moving the caret left where `text` is empty.
    void Post(const QString& text = {})
    {
        posted_ = Clock::now();
        waiting_ = true;
        TMemo& memo = *control_Form->Memo1;
        const int code = text.isEmpty() ? Qt::Key_Left : Qt::Key_1;
        QCoreApplication::postEvent(&memo, new QKeyEvent(QEvent::KeyPress, code, {}, text));
        QCoreApplication::postEvent(&memo, new QKeyEvent(QEvent::KeyRelease, code, {}, text));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!waiting_ || painting_ || event->type() != QEvent::Paint)
            return false;
        painting_ = true;
        QCoreApplication::sendEvent(watched, event);
        painting_ = waiting_ = false;
        ms = Ms(Clock::now() - posted_);
        return true;
    }

private:
    Clock::time_point posted_;
    bool waiting_ = false;
    bool painting_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: frame_bench FILE [PICTURE]\n");
        return 2;
    }
    TApplication application;
    Application->Initialize();
    Application->CreateForm<Tcontrol_Form>(control_Form);
    Application->CreateForm<Tview_Form>(view_Form);
    control_Form->Show();
    View()->Show();
    RunUntil([] { return View()->GLClient()->isExposed(); });
    IdleCalls idle;
    idle.Install();
    RunUntil([start = Clock::now()] { return Ms(Clock::now() - start) > 500; });

    // The text box filled alone, with nothing converted beside it.
    double fill = 0;
    {
        TMemo memo;
        const auto start = Clock::now();
        memo.Lines->LoadFromFile(argv[1]);
        fill = Ms(Clock::now() - start);
    }
    // File > Open to the first presented frame with every point.
    const auto opened = Clock::now();
    control_Form->Memo1->Lines->LoadFromFile(argv[1]);
    const double load = Ms(Clock::now() - opened);
    idle.ms.clear();
    RunUntil([&] { return idle.marker; });
    const double firstFrame = Ms(Clock::now() - opened);
    const double longestFirst = idle.Longest();
    const std::int64_t lines = control_Form->Memo1->Lines->Count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMb = static_cast<double>(usage.ru_maxrss) / 1024;
    // Committed after the load: resident, and taken by the process whether
    // touched or not (what a strict overcommit counts).
    std::string residentMb, dataMb;
    {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            const auto mb = [&] { return std::to_string(std::stol(line.substr(7)) / 1024); };
            if (line.rfind("VmRSS:", 0) == 0)
                residentMb = mb();
            if (line.rfind("VmData:", 0) == 0)
                dataMb = mb();
        }
    }
    const double oneDraw = OneDraw(argv[1]);

    // Frames of a scene that does not change.
    idle.ms.clear();
    RunUntil([&] { return idle.ms.size() >= 200; });
    std::sort(idle.ms.begin(), idle.ms.end());
    const double unchanged = idle.ms[idle.ms.size() / 2];

    // A turn starts a new picture; a key in the text box meanwhile.
    KeyToPaint key;
    control_Form->Memo1->viewport()->installEventFilter(&key);
    double keyMs = 0;
    double longest = 0;
    std::vector<double> turns;
    // A few points may not move a pixel in a turn: only clouds are turned.
    for (int turn = 0; turn < (lines > 1000 ? 4 : 0); ++turn) {
        RunUntil([&, calls = idle.ms.size() + 2] { return idle.ms.size() >= calls; });
        idle.before = BackBuffer();
        idle.changed = false;
        idle.ms.clear();
        const auto turned = Clock::now();
        QKeyEvent press(QEvent::KeyPress, turn % 2 ? Qt::Key_Left : Qt::Key_Right, {});
        QCoreApplication::sendEvent(View()->GLClient(), &press);
        bool posted = false;
        double turnMs = -1;
        key.ms = -1;
        RunUntil([&] {
            if (!posted && idle.ms.size() == 1) {
                key.Post();
                posted = true;
            }
            if (turnMs < 0 && idle.changed)
                turnMs = Ms(Clock::now() - turned);
            return turnMs >= 0 && key.ms >= 0;
        });
        turns.push_back(turnMs);
        keyMs = std::max(keyMs, key.ms);
        longest = std::max(longest, idle.Longest());
        idle.before.clear();
    }

    if (argc == 3) {
        View()->DrawFrame();
        const std::vector<unsigned char> picture = BackBuffer();
        std::ofstream(argv[2], std::ios::binary)
            .write(reinterpret_cast<const char*>(picture.data()),
                   static_cast<std::streamsize>(picture.size()));
    }

    // Keys typed at the start, the middle and the end of the text (of its
    // one line in the middle, for a long line), each to its paint: the
    // slowest of five at each place, in that order.
    TMemo& memo = *control_Form->Memo1;
    const TextStore& text = memo.Lines->Store();
    double typed[3] = {};
    for (int place = 0; place < 3; ++place) {
        const std::int64_t line = place * (lines - 1) / 2;
        memo.SetSelStart(place == 1 && lines < 10 ? (text.LineStart(line) + text.LineEnd(line)) / 2
                                                  : text.LineStart(line));
        for (int k = 0; k < 5; ++k) {
            key.ms = -1;
            key.Post(QStringLiteral("1"));
            RunUntil([&] { return key.ms >= 0; });
            typed[place] = std::max(typed[place], key.ms);
        }
        memo.Undo();
    }

    // The marker's line edited, at the end of the text: the marker goes once
    // the edited line's point is on screen (a minute at most).
    double editMs = -1;
    {
        const std::int64_t from = text.LineStart(lines - 1);
        const auto start = Clock::now();
        memo.SetSelStart(from);
        memo.SetSelLength(text.LineEnd(lines - 1) - from);
        memo.SetSelText("0 0 0");
        RunUntil([&] { return !idle.marker || Ms(Clock::now() - start) > 60000; });
        if (!idle.marker)
            editMs = Ms(Clock::now() - start);
    }

    // The text saved beside the file, from the call to the file in its place.
    double saveMs = 0, savePeakMb = 0;
    {
        const std::string saved = std::string(argv[1]) + ".saved";
        getrusage(RUSAGE_SELF, &usage);
        const double before = static_cast<double>(usage.ru_maxrss) / 1024;
        const auto start = Clock::now();
        memo.Lines->SaveToFile(saved);
        saveMs = Ms(Clock::now() - start);
        getrusage(RUSAGE_SELF, &usage);
        savePeakMb = static_cast<double>(usage.ru_maxrss) / 1024 - before;
        std::remove(saved.c_str());
    }

    const std::string n = std::to_string(lines);
    std::printf("fill_text_box_%s_lines: %.0f ms\n", n.c_str(), fill);
    std::printf("load_converting_%s_lines: %.0f ms\n", n.c_str(), load);
    std::printf("one_full_draw_%s_lines: %.0f ms\n", n.c_str(), oneDraw);
    std::sort(turns.begin(), turns.end());
    if (!turns.empty())
        std::printf("turn_to_full_picture_%s_lines: %.0f ms\n", n.c_str(), turns[turns.size() / 2]);
    std::printf("open_to_first_frame_%s_lines: %.0f ms\n", n.c_str(), firstFrame);
    std::printf("open_to_first_frame_over_fill_and_draw_%s_lines: %.2f x\n", n.c_str(),
                firstFrame / (fill + oneDraw));
    std::printf("longest_idle_call_first_frame_%s_lines: %.1f ms\n", n.c_str(), longestFirst);
    std::printf("longest_idle_call_while_drawing_%s_lines: %.1f ms\n", n.c_str(), longest);
    std::printf("unchanged_frame_%s_lines: %.2f ms\n", n.c_str(), unchanged);
    std::printf("key_to_paint_while_drawing_%s_lines: %.1f ms\n", n.c_str(), keyMs);
    std::printf("edit_at_end_to_screen_%s_lines: %.0f ms (-1: never)\n", n.c_str(), editMs);
    std::printf("key_typed_to_paint_start_middle_end_%s_lines: %.1f %.1f %.1f ms\n", n.c_str(),
                typed[0], typed[1], typed[2]);
    std::printf("save_%s_lines: %.0f ms\n", n.c_str(), saveMs);
    std::printf("save_peak_over_peak_before_%s_lines: %.0f MB\n", n.c_str(), savePeakMb);
    std::printf("peak_memory_%s_lines: %.0f MB\n", n.c_str(), peakMb);
    std::printf("resident_after_load_%s_lines: %s MB\n", n.c_str(), residentMb.c_str());
    std::printf("data_after_load_%s_lines: %s MB\n", n.c_str(), dataMb.c_str());
    Application->DestroyForms();
    return 0;
}
