// Differential fuzzing of the point line parse: the tuned code (raising and
// not) against a character-by-character reading of the same rules, kept
// deliberately plain; and the line read as a stream of fragments against the
// whole line, also with its 0s and 9s widened into long runs.
#include "cloudpoints.h"
#include "pointlinestream.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

bool PlainBlank(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

bool PlainDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::vector<std::string> PlainSplit(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t i = 0;
    while (i < text.size() && PlainBlank(text[i]))
        ++i;
    while (i < text.size()) {
        std::string field;
        if (text[i] == '"') {
            ++i;
            while (i < text.size()) {
                if (text[i] != '"') {
                    field += text[i++];
                } else if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    i += 2;
                } else {
                    ++i;
                    break;
                }
            }
        } else {
            while (i < text.size() && text[i] != ',' && !PlainBlank(text[i]))
                field += text[i++];
        }
        fields.push_back(field);
        while (i < text.size() && PlainBlank(text[i]))
            ++i;
        if (i < text.size() && text[i] == ',') {
            if (i + 1 == text.size())
                fields.push_back("");
            ++i;
            while (i < text.size() && PlainBlank(text[i]))
                ++i;
        }
    }
    return fields;
}

std::string PlainSpacesToCommas(std::string text)
{
    for (char& c : text)
        if (c == ' ')
            c = ',';
    return text;
}

// The number in "C" locale form, or false if the field does not follow the grammar.
bool PlainNumber(const std::string& field, char separator, std::string& number)
{
    std::size_t i = 0;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        number += field[i++];
    int digits = 0;
    for (; i < field.size() && PlainDigit(field[i]); ++i, ++digits)
        number += field[i];
    if (i < field.size() && (field[i] == separator || (separator == ',' && field[i] == '.'))) {
        number += '.';
        for (++i; i < field.size() && PlainDigit(field[i]); ++i, ++digits)
            number += field[i];
    }
    if (digits == 0)
        return false;
    if (i < field.size() && (field[i] == 'e' || field[i] == 'E')) {
        number += field[i++];
        if (i < field.size() && (field[i] == '+' || field[i] == '-'))
            number += field[i++];
        int exponentDigits = 0;
        for (; i < field.size() && PlainDigit(field[i]); ++i, ++exponentDigits)
            number += field[i];
        if (exponentDigits == 0)
            return false;
    }
    return i == field.size();
}

struct Outcome
{
    int kind = 0; // 0 point, 1 EConvertError, 2 EStringListError
    std::uint64_t bits[3] = {};
    std::string message;
    bool operator==(const Outcome&) const = default;
};

std::uint64_t Bits(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

std::string Shown(const std::string& text)
{
    std::string shown;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

// Over 256 bytes, a field shows its first and last 120, each end moved back
// to the start of a UTF-8 character, by three bytes at most.
std::string NotAFloat(const std::string& field)
{
    std::string shown = Shown(field);
    if (field.size() > 256) {
        const auto start = [&field](std::size_t at) {
            for (int back = 0;
                 back < 3 && at > 0 && (static_cast<unsigned char>(field[at]) >> 6) == 2; back++)
                at--;
            return at;
        };
        const std::size_t head = start(120);
        const std::size_t tail = start(field.size() - 120);
        shown = Shown(field.substr(0, head)) + "..." + Shown(field.substr(tail));
    }
    return "'" + shown + "' is not a valid floating point value";
}

Outcome PlainParse(const std::string& line, char separator)
{
    const std::vector<std::string> fields = PlainSplit(PlainSpacesToCommas(line));
    Outcome out;
    for (std::size_t i = 0; i < 3; ++i) {
        if (i >= fields.size())
            return {2, {}, "List index out of bounds (" + std::to_string(i) + ")"};
        std::string number;
        if (!PlainNumber(fields[i], separator, number))
            return {1, {}, NotAFloat(fields[i])};
        errno = 0;
        const double v = std::strtod(number.c_str(), nullptr); // "C": setlocale is never called
        if (errno == ERANGE && std::isinf(v))
            return {1, {}, NotAFloat(fields[i])};
        out.bits[i] = Bits(v);
    }
    return out;
}

Outcome TunedParse(std::string_view line, TStringList& scratch, char separator)
{
    try {
        const CloudPoint p = ParsePointLine(line, scratch, separator);
        return {0, {Bits(p.x), Bits(p.y), Bits(p.z)}, {}};
    } catch (const EConvertError& e) {
        return {1, {}, e.Message()};
    } catch (const EStringListError& e) {
        return {2, {}, e.Message()};
    }
}

// The line fed to a stream in fragments cut where `random` says, until it
// wants no more.
Outcome StreamedParse(const std::string& line, char separator, std::minstd_rand& random)
{
    PointLineStream stream(separator);
    for (std::size_t at = 0; at < line.size() && stream.Wants();) {
        const std::size_t n = random() % 4 == 0 ? line.size() : random() % 300;
        stream.Feed(std::string_view(line).substr(at, n));
        at += n;
    }
    stream.End();
    CloudPoint tried{};
    const bool point = stream.TryPoint(tried);
    try {
        const CloudPoint p = stream.Point();
        const Outcome out{0, {Bits(p.x), Bits(p.y), Bits(p.z)}, {}};
        return point && out == Outcome{0, {Bits(tried.x), Bits(tried.y), Bits(tried.z)}, {}}
                   ? out
                   : Outcome{3, {}, "TryPoint differs"};
    } catch (const EConvertError& e) {
        return {point ? 3 : 1, {}, e.Message()};
    } catch (const EStringListError& e) {
        return {point ? 3 : 2, {}, e.Message()};
    }
}

// Each 0 and 9 as a run of 300: fields longer than any held whole, and
// more digits than decide a double's rounding.
std::string Widened(const std::string& line)
{
    std::string out;
    for (const char c : line)
        out.append(c == '0' || c == '9' ? 300 : 1, c);
    return out;
}

[[noreturn]] void Mismatch(const char* what, const std::string& line)
{
    std::fprintf(stderr, "%s differs for a line of %zu bytes:", what, line.size());
    for (const char c : line)
        std::fprintf(stderr, " %02X", static_cast<unsigned char>(c));
    std::fprintf(stderr, "\n");
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TStringList scratch; // warm across inputs, as in the reader
    const std::string line(reinterpret_cast<const char*>(data), size);

    // A point needs three fields; the split reads no more.
    scratch.SetCommaTextSpacesAsCommas(line, 3);
    const std::vector<std::string> fields = PlainSplit(PlainSpacesToCommas(line));
    if (scratch.Count() != static_cast<int>(std::min<std::size_t>(fields.size(), 3)))
        Mismatch("field count", line);
    for (int i = 0; i < scratch.Count(); ++i)
        if (scratch[i] != fields[static_cast<std::size_t>(i)])
            Mismatch("a field", line);

    for (const char separator : {'.', ','}) {
        const Outcome tuned = TunedParse(line, scratch, separator);
        if (!(tuned == PlainParse(line, separator)))
            Mismatch(separator == '.' ? "the parse with '.'" : "the parse with ','", line);
        // The pass over the text takes the non-raising form: it must agree.
        CloudPoint p{};
        const bool tried = TryParsePointLine(line, scratch, separator, p);
        if (tried != (tuned.kind == 0) ||
            (tried && !(Outcome{0, {Bits(p.x), Bits(p.y), Bits(p.z)}, {}} == tuned)))
            Mismatch("the non-raising parse", line);
        std::minstd_rand random(static_cast<std::uint_fast32_t>(std::hash<std::string>()(line)));
        if (!(StreamedParse(line, separator, random) == tuned))
            Mismatch("the streamed parse", line);
        if (line.size() <= 64 && line.find_first_of("09") != std::string::npos) {
            const std::string wide = Widened(line);
            const Outcome wideTuned = TunedParse(wide, scratch, separator);
            if (!(wideTuned == PlainParse(wide, separator)))
                Mismatch("the parse of the widened line", line);
            if (!(StreamedParse(wide, separator, random) == wideTuned))
                Mismatch("the streamed parse of the widened line", line);
        }
    }
    return 0;
}
