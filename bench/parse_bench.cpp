// Throughput of the per-line point parse, the inner loop of loading a cloud.
#include "cloud_text.h"
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
        std::size_t begin = 0;
        for (std::size_t end = c.text.find('\n'); end != std::string::npos;
             end = c.text.find('\n', begin)) {
            c.lines.emplace_back(c.text.data() + begin, end - begin);
            begin = end + 1;
        }
        return c;
    }();
    return cloud;
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
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(cloud.text.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(cloud.lines.size()));
}
// '.' for most users; ',' takes the extra separator check.
BENCHMARK(BM_ParsePointLine)->Arg('.')->Arg(',')->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
