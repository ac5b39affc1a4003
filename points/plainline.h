// The fast read of the lines most files hold: three plain decimals, one space
// or comma apart, eight digits at a time. It reads up to kPlainReadAhead
// bytes from a line's start whatever the line holds, and the caller makes
// sure that they are there to read.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

inline constexpr std::size_t kPlainReadAhead = 128;

namespace plain {

inline std::uint64_t Load(const char* p)
{
    std::uint64_t x;
    std::memcpy(&x, p, sizeof x);
    if constexpr (std::endian::native == std::endian::big)
        x = __builtin_bswap64(x);
    return x;
}

// How many of the eight bytes in `x`, first in its low byte, are digits
// before any other byte; their value.
inline int LeadingDigits(std::uint64_t x)
{
    // A digit's byte is below 0x80 both plus 0x46 and minus 0x30; carries
    // and borrows only run from a byte that is not one, upwards.
    const std::uint64_t other =
        ((x + 0x4646464646464646) | (x - 0x3030303030303030)) & 0x8080808080808080;
    return other ? std::countr_zero(other) >> 3 : 8;
}

inline std::uint64_t DigitsValue(std::uint64_t x, int n)
{
    // The n digits to the top, zeros before them (two shifts, as n may be 0).
    const int shift = (8 - n) * 4;
    std::uint64_t d = (x - 0x3030303030303030) << shift << shift;
    d = d * 10 + (d >> 8);
    return ((d & 0x000000FF000000FF) * (100 + (1000000ULL << 32)) +
            ((d >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32))) >>
           32;
}

// A number as ReadPlainDecimal reads it: 19 digits at most, no exponent.
[[gnu::always_inline]] inline bool ReadNumber(const char*& p, char point, double& value)
{
    static constexpr std::uint64_t kTens[] = {1,      10,      100,      1000,     10000,
                                              100000, 1000000, 10000000, 100000000};
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                         1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                         1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
    const bool negative = *p == '-';
    p += *p == '-' || *p == '+' ? 1 : 0;
    // One step reads most parts whole; a longer one takes more, up to 19
    // digits in all.
    std::uint64_t x = Load(p);
    int n = LeadingDigits(x);
    std::uint64_t digits = DigitsValue(x, n);
    int count = n;
    p += n;
    const auto more = [&] {
        while (n == 8 && count <= 19) {
            x = Load(p);
            n = LeadingDigits(x);
            digits = digits * kTens[n] + DigitsValue(x, n);
            count += n;
            p += n;
        }
    };
    more();
    int fraction = 0;
    if (*p == point) {
        const int before = count;
        x = Load(++p);
        n = LeadingDigits(x);
        digits = digits * kTens[n] + DigitsValue(x, n);
        count += n;
        p += n;
        more();
        fraction = count - before;
    }
    // Within 53 bits the digits and the power of ten are exact doubles, and
    // one division rounds as the full conversion does.
    if (count == 0 || count > 19 || digits > (std::uint64_t{1} << 53) || *p == 'e' || *p == 'E')
        return false;
    // The sign set as a bit: signs as random as a cloud's defeat a branch.
    const double magnitude = static_cast<double>(digits) / kPowers[fraction];
    value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) | std::uint64_t{negative}
                                                                                << 63);
    return true;
}

} // namespace plain

// The separator the fast read takes for `decimalSeparator`, or 0 where it
// cannot be read fast: a comma always ends a field, so a decimal comma
// reads '.', and a blank can never be within a field.
inline char PlainPoint(char decimalSeparator)
{
    const auto c = static_cast<unsigned char>(decimalSeparator);
    return c == ',' ? '.' : c >= 1 && c <= 32 ? '\0' : decimalSeparator;
}

// At a line's start: x, y, z as ParsePointLine yields them, and where the
// byte after z lies (one that ends a field), or nullptr where the line is
// anything else (which the full parse may still read). `point` as PlainPoint
// gives it, not 0.
inline const char* ReadPlainPoint(const char* p, char point, double* xyz)
{
    for (int i = 0; i < 2; ++i) {
        if (!plain::ReadNumber(p, point, xyz[i]) || (*p != ' ' && *p != ','))
            return nullptr;
        ++p;
    }
    if (!plain::ReadNumber(p, point, xyz[2]))
        return nullptr;
    const auto next = static_cast<unsigned char>(*p);
    return next == ',' || (next >= 1 && next <= 32) ? p : nullptr;
}
