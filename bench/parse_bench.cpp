// Throughput of the per-line point parse, the inner loop of loading a cloud.
#include "cloudpoints.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <random>
#include <string>
#include <vector>

namespace {

// Lines as scanners and exporters write them: mixed signs, magnitudes and
// precisions, one point per line.
struct Cloud
{
    std::string text;
    std::vector<std::string_view> lines;
};

const Cloud& MakeCloud()
{
    static const Cloud cloud = [] {
        constexpr std::size_t lineCount = 1'000'000;
        std::mt19937_64 random(20240611);
        std::uniform_real_distribution<double> planar(-2000.0, 2000.0);
        std::uniform_real_distribution<double> height(-50.0, 400.0);
        std::uniform_int_distribution<int> precision(2, 6);
        Cloud c;
        std::vector<std::size_t> ends;
        char number[64];
        for (std::size_t i = 0; i < lineCount; ++i) {
            const int digits = precision(random);
            for (const double v : {planar(random), planar(random), height(random)}) {
                const auto r = std::to_chars(number, number + sizeof number, v,
                                             std::chars_format::fixed, digits);
                c.text.append(number, r.ptr).push_back(' ');
            }
            c.text.back() = '\n';
            ends.push_back(c.text.size() - 1);
        }
        std::size_t begin = 0;
        for (const std::size_t end : ends) {
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
