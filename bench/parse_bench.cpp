// Throughput of the point parse, the inner loop of loading a cloud: the
// raising parse of one line, the one-pass read of the frames, a block read
// as the loader's threads read it (its breaks counted too), and the whole
// loader over a text of 300 MB handed in pieces of 16 MB.
#include "blocklines.h"
#include "breaks.h"
#include "cloud_text.h"
#include "cloudloader.h"
#include "cloudpoints.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

struct Cloud
{
    std::string text;
    std::vector<std::string_view> lines;
};

const Cloud& MakeCloud()
{
    static const Cloud cloud = [] {
        Cloud c;
        c.text = CloudText(1'000'000);
        for (std::size_t at = 0; at < c.text.size();)
            c.lines.push_back(NextLine(c.text, at));
        return c;
    }();
    return cloud;
}

void Count(benchmark::State& state, std::size_t bytes, std::size_t lines)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines));
}

void BM_ParsePointLine(benchmark::State& state)
{
    const Cloud& cloud = MakeCloud();
    const char separator = static_cast<char>(state.range(0));
    TStringList scratch;
    for (auto _ : state) {
        double sum = 0;
        for (const std::string_view line : cloud.lines) {
            const CloudPoint p = ParsePointLine(line, scratch, separator);
            sum += p.x + p.y + p.z;
        }
        benchmark::DoNotOptimize(sum);
    }
    Count(state, cloud.text.size(), cloud.lines.size());
}
// '.' for most users; ',' takes the extra separator check.
BENCHMARK(BM_ParsePointLine)->Arg('.')->Arg(',')->Unit(benchmark::kMillisecond);

void BM_ConvertLine(benchmark::State& state)
{
    const Cloud& cloud = MakeCloud();
    TStringList scratch;
    for (auto _ : state) {
        float sum = 0;
        for (const std::string_view line : cloud.lines) {
            float p[3];
            ConvertLine(line, scratch, '.', p);
            sum += p[0] + p[1] + p[2];
        }
        benchmark::DoNotOptimize(sum);
    }
    Count(state, cloud.text.size(), cloud.lines.size());
}
BENCHMARK(BM_ConvertLine)->Unit(benchmark::kMillisecond);

void BM_BlockLines(benchmark::State& state)
{
    const Cloud& cloud = MakeCloud();
    const std::size_t block = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint32_t> counts(cloud.text.size() / kPieceSize + 1);
    BlockLines lines('.');
    const char* const end = cloud.text.data() + cloud.text.size();
    for (auto _ : state) {
        std::size_t points = 0;
        for (std::size_t at = 0; at < cloud.text.size(); at += block) {
            const char* const begin = cloud.text.data() + at;
            lines.Read(begin, std::min(begin + block, end), end, false, &counts[at / kPieceSize],
                       true);
            points += lines.PointCount();
        }
        benchmark::DoNotOptimize(points);
    }
    Count(state, cloud.text.size(), cloud.lines.size());
}
BENCHMARK(BM_BlockLines)->Arg(4 * kPieceSize)->Unit(benchmark::kMillisecond);

void BM_CloudLoader(benchmark::State& state)
{
    static const std::string text = [] {
        std::string t;
        for (unsigned part = 0; part < 10; ++part)
            t += CloudText(945'000, part);
        return t;
    }();
    constexpr std::size_t piece = 16 << 20;
    std::vector<std::uint32_t> counts(text.size() / kPieceSize + 1);
    CloudLoader loader(
        '.', [](std::function<void()> work) { return std::thread(std::move(work)); },
        static_cast<unsigned>(state.range(0)));
    for (auto _ : state) {
        loader.Start(text.size());
        for (std::size_t at = 0; at < text.size(); at += piece)
            loader.Take(std::string_view(text).substr(at, piece), &counts[at / kPieceSize]);
        const std::any made = loader.Finish(true);
        benchmark::DoNotOptimize(std::any_cast<ConvertedLines>(&made)->vertices.data());
    }
    Count(state, text.size(), 9'450'000);
}
// Threads: one, and the two the machine has.
BENCHMARK(BM_CloudLoader)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
