// Clouds as scanners and exporters write them, scaled into the view's region
// of half-extent 50 so that every point is drawn: mixed signs and
// precisions, one point per line, LF breaks. The same seed gives the same
// text. No point falls near (40, 40), where a marker goes.
#pragma once

#include <charconv>
#include <random>
#include <string>

// The last line of a generated file: it shows once all points are drawn.
inline constexpr const char* kMarkerLine = "40 40 0\n";

inline std::string CloudText(std::size_t lineCount, unsigned seed = 20240611)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> planar(-48.0, 48.0);
    std::uniform_real_distribution<double> depth(-45.0, 45.0);
    std::uniform_int_distribution<int> precision(2, 6);
    std::string text;
    text.reserve(lineCount * 28);
    char number[64];
    for (std::size_t i = 0; i < lineCount; ++i) {
        double x = planar(random);
        const double y = planar(random);
        if (x > 36 && y > 36)
            x -= 30;
        const int digits = precision(random);
        for (const double v : {x, y, depth(random)}) {
            const auto r =
                std::to_chars(number, number + sizeof number, v, std::chars_format::fixed, digits);
            text.append(number, r.ptr).push_back(' ');
        }
        text.back() = '\n';
    }
    return text;
}
