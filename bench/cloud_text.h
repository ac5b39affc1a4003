// Clouds as scanners and exporters write them, scaled into the view's region
// of half-extent 50 so that every point is drawn: mixed signs and magnitudes,
// six or seven digits after the point, about 32 bytes a line, LF breaks. The
// same seed gives the same text. No point falls near (40, 40), where a marker
// goes.
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
    std::string text;
    text.reserve(lineCount * 33);
    char number[64];
    for (std::size_t i = 0; i < lineCount; ++i) {
        double x = planar(random);
        const double y = planar(random);
        if (x > 36 && y > 36)
            x -= 30;
        // A seventh digit on three lines in ten brings the mean to 32 bytes.
        const int digits = random() % 10 < 3 ? 7 : 6;
        for (const double v : {x, y, depth(random)}) {
            const auto r =
                std::to_chars(number, number + sizeof number, v, std::chars_format::fixed, digits);
            text.append(number, r.ptr).push_back(' ');
        }
        text.back() = '\n';
    }
    return text;
}
