#include "sysutils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <langinfo.h>
#include <locale.h>
#include <optional>
#include <system_error>

namespace {

enum CharClass : unsigned char
{
    fieldChar,
    blankChar,
    commaChar
};

struct CharClasses
{
    CharClass of[256];
};

// Codes 1..32 separate fields, NUL does not, so it stays inside a field; a
// space is a comma here, as the line's spaces are replaced by commas.
constexpr CharClasses MakeCharClasses()
{
    CharClasses classes{};
    for (unsigned c = 1; c <= 32; ++c)
        classes.of[c] = blankChar;
    classes.of[static_cast<unsigned char>(',')] = commaChar;
    classes.of[static_cast<unsigned char>(' ')] = commaChar;
    return classes;
}

constexpr CharClasses classes = MakeCharClasses();

inline bool IsDigit(char c)
{
    return static_cast<unsigned char>(static_cast<unsigned char>(c) - '0') < 10u;
}

// The text as a user can read it in a message box: control bytes become \xNN.
std::string Printable(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20u || u == 0x7Fu) {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 0xFu];
        } else {
            out += c;
        }
    }
    return out;
}

// A field longer than a message can show is quoted by its two ends; copying a
// field of a hundred megabytes into every report would stall the program.
constexpr std::size_t kQuotedEnd = 120;

std::string Quoted(std::string_view text)
{
    if (text.size() <= 2 * kQuotedEnd + 16)
        return Printable(text);
    const auto [head, tail] = Ends(text, kQuotedEnd, kQuotedEnd);
    return Printable(head) + "..." + Printable(tail);
}

[[noreturn, gnu::cold, gnu::noinline]] void ThrowNotAFloat(std::string_view text)
{
    throw EConvertError("'" + Quoted(text) + "' is not a valid floating point value");
}

// from_chars reports overflow and underflow alike. `number` is in from_chars
// form and not all zero; the power of ten of its leading digit tells them apart.
[[gnu::cold, gnu::noinline]] bool Underflows(std::string_view number)
{
    std::int64_t integerDigits = 0;
    std::int64_t leadingZeros = 0;
    bool fraction = false;
    bool seenNonZero = false;
    std::size_t i = number[0] == '-' ? 1 : 0;
    for (; i < number.size() && number[i] != 'e'; ++i) {
        if (number[i] == '.') {
            fraction = true;
            continue;
        }
        integerDigits += fraction ? 0 : 1;
        seenNonZero = seenNonZero || number[i] != '0';
        leadingZeros += seenNonZero ? 0 : 1;
    }
    std::int64_t exponent = 0;
    const bool negativeExponent = i + 1 < number.size() && number[i + 1] == '-';
    for (; i < number.size(); ++i) {
        // Saturate: beyond a few thousand the answer no longer changes.
        if (IsDigit(number[i]) && exponent < 1'000'000'000)
            exponent = exponent * 10 + (number[i] - '0');
    }
    const std::int64_t power =
        integerDigits - 1 - leadingZeros + (negativeExponent ? -exponent : exponent);
    return power < 0;
}

// Checks the grammar while copying `text` into `out` the way from_chars reads
// it ('.' separator, no '+'). Returns the end of the copy, or nullptr.
char* ToCharsForm(std::string_view text, char decimalSeparator, char* out)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    if (p != end && (*p == '-' || *p == '+')) {
        if (*p == '-')
            *out++ = '-';
        ++p;
    }
    const char* const integer = p;
    while (p != end && IsDigit(*p))
        *out++ = *p++;
    std::ptrdiff_t digits = p - integer;
    if (p != end && (*p == decimalSeparator || (*p == '.' && decimalSeparator == ','))) {
        *out++ = '.';
        const char* const fraction = ++p;
        while (p != end && IsDigit(*p))
            *out++ = *p++;
        digits += p - fraction;
    }
    if (digits == 0)
        return nullptr;
    if (p != end && (*p == 'e' || *p == 'E')) {
        *out++ = 'e';
        ++p;
        if (p != end && (*p == '-' || *p == '+'))
            *out++ = *p++;
        const char* const exponent = p;
        while (p != end && IsDigit(*p))
            *out++ = *p++;
        if (p == exponent)
            return nullptr;
    }
    return p == end ? out : nullptr;
}

std::optional<double> Convert(std::string_view text, char decimalSeparator, char* buffer)
{
    const char* const end = ToCharsForm(text, decimalSeparator, buffer);
    if (end == nullptr)
        return std::nullopt;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(buffer, end, value);
    if (ec == std::errc{} && ptr == end)
        return value;
    const std::string_view number(buffer, static_cast<std::size_t>(end - buffer));
    if (ec == std::errc::result_out_of_range && Underflows(number))
        return buffer[0] == '-' ? -0.0 : 0.0; // too small even for a denormal
    return std::nullopt;
}

[[gnu::noinline]] std::optional<double> ConvertChecked(std::string_view text, char decimalSeparator)
{
    // Room for any realistic number; longer text is rare enough for the heap.
    constexpr std::size_t stackChars = 64;
    if (text.size() <= stackChars) {
        char buffer[stackChars];
        return Convert(text, decimalSeparator, buffer);
    }
    std::string buffer(text.size(), '\0');
    return Convert(text, decimalSeparator, buffer.data());
}

} // namespace

std::pair<std::string_view, std::string_view> Ends(std::string_view text, std::size_t head,
                                                   std::size_t tail)
{
    const auto characterStart = [text](std::size_t at) {
        for (int step = 0;
             step < 3 && at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0u) == 0x80u; ++step)
            --at;
        return at;
    };
    if (head + tail >= text.size())
        return {text, {}};
    return {text.substr(0, characterStart(head)), text.substr(characterStart(text.size() - tail))};
}

void TStringList::SetCommaTextSpacesAsCommas(std::string_view text)
{
    storage_.assign(text);
    Split();
}

// Splits storage_ in place: unquoting only ever shortens a field, so the
// unquoted text is written over the quoted text it came from. Unquoted fields
// cannot hold a space, so only quoted ones need spaces turned into commas.
void TStringList::Split()
{
    fields_.clear();
    const std::size_t n = storage_.size();
    storage_.push_back(','); // stops every scan below without a bounds check
    char* const s = storage_.data();
    const auto kind = [&](std::size_t at) { return classes.of[static_cast<unsigned char>(s[at])]; };
    std::size_t i = 0;
    while (kind(i) == blankChar)
        ++i;
    while (i < n) {
        const std::size_t begin = i;
        std::size_t size = 0;
        if (s[i] == '"') {
            std::size_t write = i;
            ++i;
            while (i < n) {
                if (s[i] == '"') {
                    if (s[i + 1] == '"') { // never the sentinel
                        s[write++] = '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                s[write++] = s[i] == ' ' ? ',' : s[i];
                ++i;
            }
            size = write - begin;
        } else {
            while (kind(i) == fieldChar)
                ++i;
            size = i - begin;
        }
        fields_.push_back({begin, size});
        while (kind(i) == blankChar)
            ++i;
        if (i < n && kind(i) == commaChar) {
            if (++i == n) {
                fields_.push_back({n, 0});
                break;
            }
            while (kind(i) == blankChar)
                ++i;
        }
    }
}

void TStringList::ThrowIndexOutOfBounds(int index)
{
    throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

char DecimalSeparator()
{
    static const char separator = [] {
        const locale_t user = newlocale(LC_NUMERIC_MASK, "", locale_t{});
        if (user == locale_t{})
            return '.';
        const char* const radix = nl_langinfo_l(RADIXCHAR, user);
        const char c = radix != nullptr && radix[0] != '\0' && radix[1] == '\0' ? radix[0] : '.';
        freelocale(user);
        return c;
    }();
    return separator;
}

double StrToFloat(std::string_view text)
{
    return StrToFloat(text, DecimalSeparator());
}

bool TryStrToFloat(std::string_view text, char decimalSeparator, double& value)
{
    // from_chars alone reads exactly our grammar with a '.' separator, except
    // that it also takes inf and nan (caught as not finite) and rejects '+'.
    // So plain text needs no copy; the rest takes the checked copy below.
    if (decimalSeparator == '.' || decimalSeparator == ',') {
        const char* const end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, value);
        if (ec == std::errc{} && ptr == end && std::isfinite(value))
            return true;
    }
    const std::optional<double> checked = ConvertChecked(text, decimalSeparator);
    if (checked)
        value = *checked;
    return checked.has_value();
}

double StrToFloat(std::string_view text, char decimalSeparator)
{
    double value = 0;
    if (!TryStrToFloat(text, decimalSeparator, value))
        ThrowNotAFloat(text);
    return value;
}
