#include "sysutils.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdlib>
#include <new>

using namespace std::string_literals;

// Counts allocations so the test can prove a warm list splits without any.
static int allocations = 0;
void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

TEST(StringReplace, Table)
{
    const struct
    {
        const char *text, *from, *to;
        TReplaceFlags flags;
        const char* expected;
    } rows[] = {
        {"a b c", " ", ",", rfReplaceAll, "a,b,c"},
        {"a b c", " ", ",", 0, "a,b c"},
        {"aXbxc", "x", "-", rfReplaceAll, "aXb-c"},
        {"aXbxc", "x", "-", rfReplaceAll | rfIgnoreCase, "a-b-c"},
        {"aXbxc", "x", "-", rfIgnoreCase, "a-bxc"},
        {"aaa", "aa", "b", rfReplaceAll, "ba"},
        {"abab", "ab", "abab", rfReplaceAll, "abababab"},
        {"abc", "", "x", rfReplaceAll, "abc"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(StringReplace(r.text, r.from, r.to, r.flags), r.expected) << r.text;
}

TEST(CommaText, Table)
{
    const struct
    {
        std::string text;
        std::vector<std::string> fields;
    } rows[] = {
        {"", {}},
        {" \t\r\n", {}},
        {"a,b,c", {"a", "b", "c"}},
        {"a,,b", {"a", "", "b"}},
        {",a", {"", "a"}},
        {"a,", {"a", ""}},
        {"a, ", {"a"}}, // only a comma that is the last character adds a field
        {"a\t\t b", {"a", "b"}},
        {"  a  ,  b  ", {"a", "b"}},
        {"\x01"s + "a\x1f", {"a"}},
        {"\"a, b\" c", {"a, b", "c"}},
        {R"("say ""hi""",x)", {R"(say "hi")", "x"}},
        {R"("")", {""}},
        {R"("open ended)", {"open ended"}},
        {R"("a"b)", {"a", "b"}}, // text after the closing quote is the next field
        {R"(a"b")", {R"(a"b")"}},
        {"a\0b,c"s, {"a\0b"s, "c"}},
        {"\xC3\xA9,\xA0", {"\xC3\xA9", "\xA0"}},
    };
    TStringList list; // reused, as the reader does
    for (const auto& r : rows) {
        list.SetCommaText(r.text);
        std::vector<std::string> got;
        for (int i = 0; i < list.Count(); ++i)
            got.emplace_back(list[i]);
        EXPECT_EQ(got, r.fields) << r.text;
        for (const int past : {list.Count(), -1}) {
            try {
                (void)list.Strings(past);
                ADD_FAILURE() << r.text << " has a field " << past;
            } catch (const EStringListError& e) {
                EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(past) + ")");
            }
        }
    }
}

TEST(CommaText, WarmListDoesNotAllocate)
{
    TStringList list;
    list.SetCommaTextSpacesAsCommas("-12.345678 3.14159 42.5 \"7\"");
    list.SetCommaText("-12.345678,3.14159,42.5,\"7\"");
    const int before = allocations;
    double sum = 0;
    for (const char* line : {"1 2 3", "\"4\" 5 6", "-12.345678 3.14159 42.5"}) {
        list.SetCommaTextSpacesAsCommas(line);
        sum += StrToFloat(list[0], '.') + StrToFloat(list[2], ',');
        list.SetCommaText(line);
    }
    EXPECT_EQ(allocations, before);
    EXPECT_EQ(sum, 1 + 3 + 4 + 6 + -12.345678 + 42.5);
}

// The shortest text that reads back as the same double, so -0 and 0 differ.
std::string Exactly(double value)
{
    char text[32];
    return {text, std::to_chars(text, text + sizeof text, value).ptr};
}

std::string Repeat(const std::string& piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

TEST(StrToFloat, Table)
{
    const std::string longOne = "1" + std::string(400, '0');
    const auto bad = [](const std::string& shown) {
        return "'" + shown + "' is not a valid floating point value";
    };
    const struct
    {
        std::string text;
        char separator;
        std::string expected; // the value, or the message
    } rows[] = {
        {"-12.5", '.', "-12.5"},
        {"+1", '.', "1"},
        {"1.", '.', "1"},
        {"-.5", '.', "-0.5"},
        {"1E+3", '.', "1000"},
        {"0e999999", '.', "0"},
        {"4.9e-324", '.', "5e-324"},
        {"1e-400", '.', "0"},
        {"-1e-400", '.', "-0"},
        {"1e-99999999999999999999", '.', "0"},
        {"0.000" + longOne, '.', "1e-04"},
        {longOne + "e-400", '.', "1"},
        {"1,5", ',', "1.5"},
        {"1.5", ',', "1.5"},
        {"-,5e1", ',', "-5"},
        {"1,5", '.', bad("1,5")},
        {"1.5", ';', bad("1.5")},
        {"", '.', bad("")},
        {".", '.', bad(".")},
        {"-", '.', bad("-")},
        {"+-1", '.', bad("+-1")},
        {"1e", '.', bad("1e")},
        {"e5", '.', bad("e5")},
        {"1.5.2", '.', bad("1.5.2")},
        {"1e5.5", '.', bad("1e5.5")},
        {" 1", '.', bad(" 1")},
        {"inf", '.', bad("inf")},
        {"-nan", ',', bad("-nan")},
        {"0x10", '.', bad("0x10")},
        {"1e999", '.', bad("1e999")},
        {"-1.7976931348623159e308", '.', bad("-1.7976931348623159e308")},
        {std::string(255, '7') + "x", '.', bad(std::string(255, '7') + "x")},
        // Longer fields are quoted by their ends, cut between characters.
        {longOne, '.', bad("1" + std::string(119, '0') + "..." + std::string(120, '0'))},
        {"a" + Repeat("\xC3\xA9", 200), '.',
         bad("a" + Repeat("\xC3\xA9", 59) + "..." + Repeat("\xC3\xA9", 60))},
        {std::string(100 << 20, '\1'), '.',
         bad(Repeat(R"(\x01)", 120) + "..." + Repeat(R"(\x01)", 120))},
        // Not UTF-8: the cut moves back by a character's length at most.
        {std::string(1000, '\xA0'), '.',
         bad(std::string(117, '\xA0') + "..." + std::string(123, '\xA0'))},
        {"1\0"s, '.', bad(R"(1\x00)")},
        {"\t1\x7f", '.', bad(R"(\x091\x7F)")},
        {"1\xC3\xA9", '.', bad("1\xC3\xA9")},
    };
    for (const auto& r : rows) {
        try {
            EXPECT_EQ(Exactly(StrToFloat(r.text, r.separator)), r.expected) << r.text;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), r.expected) << r.text;
        }
    }
}
