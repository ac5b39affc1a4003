// Cloud text as scanners and exporters write it: mixed signs, magnitudes and
// precisions, one point per line, LF breaks. The same seed gives the same text.
#pragma once

#include <charconv>
#include <random>
#include <string>

inline std::string CloudText(std::size_t lineCount)
{
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> planar(-2000.0, 2000.0);
    std::uniform_real_distribution<double> height(-50.0, 400.0);
    std::uniform_int_distribution<int> precision(2, 6);
    std::string text;
    text.reserve(lineCount * 30);
    char number[64];
    for (std::size_t i = 0; i < lineCount; ++i) {
        const int digits = precision(random);
        for (const double v : {planar(random), planar(random), height(random)}) {
            const auto r =
                std::to_chars(number, number + sizeof number, v, std::chars_format::fixed, digits);
            text.append(number, r.ptr).push_back(' ');
        }
        text.back() = '\n';
    }
    return text;
}
