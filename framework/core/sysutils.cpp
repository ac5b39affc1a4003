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
    // Appended, not concatenated: GCC 12 at -O3 takes "'" + string for an
    // overlapping copy (a false -Wrestrict).
    throw EConvertError(
        std::string("'").append(Quoted(text)).append("' is not a valid floating point value"));
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

void TStringList::SetCommaTextSpacesAsCommas(std::string_view text, std::size_t limit)
{
    text_ = text;
    unquoted_.clear();
    count_ = 0;
    limit = std::min(limit, kMostFields);
    const std::size_t n = text.size();
    const auto kind = [&](std::size_t at) {
        return at < n ? classes.of[static_cast<unsigned char>(text[at])] : commaChar;
    };
    const auto add = [this](Span field) { fields_[count_++] = field; };
    std::size_t i = 0;
    while (kind(i) == blankChar)
        ++i;
    while (i < n && count_ < limit) {
        if (text[i] == '"') {
            // Unquoted fields cannot hold a space; quoted ones turn theirs into commas.
            const std::size_t begin = unquoted_.size();
            for (++i; i < n; ++i) {
                if (text[i] == '"' && !(i + 1 < n && text[i + 1] == '"')) {
                    ++i;
                    break;
                }
                unquoted_.push_back(text[i] == ' ' ? ',' : text[i]);
                i += text[i] == '"' ? 1 : 0;
            }
            add({true, begin, unquoted_.size() - begin});
        } else {
            const std::size_t begin = i;
            while (kind(i) == fieldChar)
                ++i;
            add({false, begin, i - begin});
        }
        while (kind(i) == blankChar)
            ++i;
        if (i < n && kind(i) == commaChar) {
            if (++i == n) {
                if (count_ < limit)
                    add({false, n, 0});
                break;
            }
            while (kind(i) == blankChar)
                ++i;
        }
    }
}

EStringListError EStringListError::IndexOutOfBounds(std::int64_t index)
{
    return EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

void TStringList::ThrowIndexOutOfBounds(int index)
{
    throw EStringListError::IndexOutOfBounds(index);
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

// Where the digits make an integer of 53 bits or less and the fraction has 22
// digits or fewer, both are exact doubles and one division rounds correctly,
// as from_chars would.
bool ReadPlainDecimal(const char*& p, const char* end, char decimalSeparator, double& value)
{
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* q = p;
    const bool negative = q != end && *q == '-';
    if (q != end && (*q == '-' || *q == '+'))
        ++q;
    // 19 digits at most: more could overflow, and take the long way.
    const char* const last = end - q > 20 ? q + 20 : end;
    std::uint64_t digits = 0;
    const char* const integer = q;
    while (q != last && IsDigit(*q))
        digits = digits * 10 + static_cast<std::uint64_t>(*q++ - '0');
    int count = static_cast<int>(q - integer);
    int fraction = 0;
    if (q != last && (*q == decimalSeparator || (*q == '.' && decimalSeparator == ','))) {
        const char* const fractionStart = ++q;
        while (q != last && IsDigit(*q))
            digits = digits * 10 + static_cast<std::uint64_t>(*q++ - '0');
        fraction = static_cast<int>(q - fractionStart);
        count += fraction;
    }
    p = q;
    if (count == 0 || count > 19 || digits > (std::uint64_t{1} << 53) || fraction > 22 ||
        (q != end && (IsDigit(*q) || *q == 'e' || *q == 'E')))
        return false;
    const double magnitude = static_cast<double>(digits) / kPowers[fraction];
    value = negative ? -magnitude : magnitude;
    return true;
}

bool TryStrToFloat(std::string_view text, char decimalSeparator, double& value)
{
    const char* p = text.data();
    if (ReadPlainDecimal(p, p + text.size(), decimalSeparator, value) &&
        p == text.data() + text.size())
        return true;
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
