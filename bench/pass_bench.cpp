// The points pass on a large text box: converting every line, a frame on
// unchanged text, and a frame after a one-line edit. OpenGL's drawing is left
// out; this is the work done before it.
#include "cloud_text.h"
#include "cloudcache.h"
#include "controls.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

struct Setup
{
    TMemo memo;
    CloudCache cache;
    int Update()
    {
        const TStrings& lines = *memo.Lines;
        return cache.Update(
            lines.TextLineCount(), lines.Count(),
            [&lines](int b, int e) { return lines.Range(b, e); }, '.');
    }
};

Setup& TextBox(int lineCount)
{
    static std::unique_ptr<Setup> setup;
    static int loaded = 0;
    if (!setup || loaded != lineCount) {
        setup = std::make_unique<Setup>();
        setup->memo.Lines->OnChange = [s = setup.get()](int first, int removed, int added) {
            s->cache.Replace(first, removed, added);
        };
        setup->memo.Lines->SetText(CloudText(static_cast<std::size_t>(lineCount)));
        loaded = lineCount;
    }
    return *setup;
}

void BM_FullPass(benchmark::State& state)
{
    Setup& s = TextBox(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        s.cache.Reset(0);
        benchmark::DoNotOptimize(s.Update());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_UnchangedPass(benchmark::State& state)
{
    Setup& s = TextBox(static_cast<int>(state.range(0)));
    s.Update();
    for (auto _ : state)
        benchmark::DoNotOptimize(s.Update());
}

// A character typed into a line in the middle, or taken back: one edit and
// the frame after it.
void BM_OneLineEdit(benchmark::State& state)
{
    Setup& s = TextBox(static_cast<int>(state.range(0)));
    s.Update();
    const auto middle = static_cast<unsigned long>(s.memo.SendScintilla(
        QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(state.range(0) / 2)));
    bool typed = false;
    for (auto _ : state) {
        if (typed)
            s.memo.SendScintilla(QsciScintillaBase::SCI_DELETERANGE, middle, 1L);
        else
            s.memo.SendScintilla(QsciScintillaBase::SCI_INSERTTEXT, middle, "1");
        typed = !typed;
        benchmark::DoNotOptimize(s.Update());
    }
}

BENCHMARK(BM_FullPass)
    ->Arg(1'000'000)
    ->Arg(10'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_UnchangedPass)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OneLineEdit)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The text box needs an application, not a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
