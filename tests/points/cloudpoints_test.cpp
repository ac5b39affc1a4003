#include "cloudpoints.h"

#include <gtest/gtest.h>

#include <charconv>

using namespace std::string_literals;

namespace {

// "x y z" in shortest round-trip form, or the error class and its message.
std::string Outcome(const std::string& line, TStringList& scratch, char separator)
{
    try {
        const CloudPoint p = ParsePointLine(line, scratch, separator);
        std::string out;
        for (const double v : {p.x, p.y, p.z}) {
            char text[32];
            out.append(text, std::to_chars(text, text + sizeof text, v).ptr).push_back(' ');
        }
        out.pop_back();
        return out;
    } catch (const EConvertError& e) {
        return "EConvertError " + e.Message();
    } catch (const EStringListError& e) {
        return "EStringListError " + e.Message();
    }
}

std::string Bad(const std::string& shown)
{
    return "EConvertError '" + shown + "' is not a valid floating point value";
}

} // namespace

TEST(ParsePointLine, Table)
{
    const struct
    {
        std::string line;
        char separator;
        std::string expected;
    } rows[] = {
        {"1 2 3", '.', "1 2 3"},
        {"1,2,3", '.', "1 2 3"},
        {"1\t2\t\t3", '.', "1 2 3"},
        {"1 2 3 4 5", '.', "1 2 3"},
        {"1 2 3 ", '.', "1 2 3"},
        {"1 2 3\r", '.', "1 2 3"},
        {"-1.5e2 0 3", '.', "-150 0 3"},
        {"1. .5 +1", '.', "1 0.5 1"},
        {"\"1\" 2 3", '.', "1 2 3"},
        {"1,5 2,5 3,5", '.', "1 5 2"},
        {"1,5 2,5 3,5", ',', "1 5 2"},
        {"1.5 2 3", ',', "1.5 2 3"},
        {"\"1 2\" 3 4", ',', "1.2 3 4"}, // the space inside quotes is a comma too
        {"\"1 2\" 3 4", '.', Bad("1,2")},
        {"1  2 3", '.', Bad("")},
        {" 1 2 3", '.', Bad("")},
        {"1 2 ", '.', Bad("")},
        {"1 2", '.', "EStringListError List index out of bounds (2)"},
        {"", '.', "EStringListError List index out of bounds (0)"},
        {"x 2", '.', Bad("x")},
        {"1 y z", '.', Bad("y")},
        {"1 2 \xC3\xA9", '.', Bad("\xC3\xA9")},
        {"1 2\0 3"s, '.', Bad(R"(2\x00)")},
        {"1e999 0 0", '.', Bad("1e999")},
        {"1e 0 0", '.', Bad("1e")},
        {"e5 0 0", '.', Bad("e5")},
        {"inf 0 0", '.', Bad("inf")},
        {"nan 0 0", '.', Bad("nan")},
    };
    TStringList scratch; // reused, as the reader does
    for (const auto& r : rows)
        EXPECT_EQ(Outcome(r.line, scratch, r.separator), r.expected) << r.line;
}
