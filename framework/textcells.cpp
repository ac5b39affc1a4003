#include "textcells.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

Cell DecodeCell(const char* bytes, std::size_t size)
{
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) {
        if (lead == '\t')
            return {CellKind::Tab, 1, lead};
        return {lead < 0x20 || lead == 0x7f ? CellKind::Control : CellKind::Text, 1, lead};
    }
    const Cell invalid{CellKind::Invalid, 1, lead};
    // The second byte's range rules out overlong forms, surrogates and
    // characters past U+10FFFF.
    std::size_t length = 0;
    char32_t code = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1fu;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0fu;
        low = lead == 0xe0 ? 0xa0 : low;
        high = lead == 0xed ? 0x9f : high;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07u;
        low = lead == 0xf0 ? 0x90 : low;
        high = lead == 0xf4 ? 0x8f : high;
    } else {
        return invalid;
    }
    if (size < length)
        return invalid;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xbf))
            return invalid;
        code = code << 6 | (b & 0x3fu);
    }
    return {CellKind::Text, static_cast<std::uint8_t>(length), code};
}

int CellBytesBefore(const char* end, std::size_t before)
{
    // A valid character ending here begins at its lead byte, and nothing
    // before that lead can reach past it.
    for (int length = 2; length <= 4 && static_cast<std::size_t>(length) <= before; ++length) {
        const Cell cell = DecodeCell(end - length, static_cast<std::size_t>(length));
        if (cell.kind == CellKind::Text && cell.bytes == length)
            return length;
    }
    return 1;
}

std::size_t PlainRun(const char* bytes, std::size_t size)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi8('\t');
    for (; i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const auto stops =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(v, _mm_cmpeq_epi8(v, tab))));
        if (stops != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(stops));
    }
#endif
    for (; i < size; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x80 || b == '\t')
            break;
    }
    return i;
}

std::size_t WideRun(const char* bytes, std::size_t size, std::size_t most, std::size_t& cells)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    const auto follows = [&](std::size_t at, unsigned char low, unsigned char high) {
        return at < size && b[at] >= low && b[at] <= high;
    };
    std::size_t i = 0;
    // The checks of DecodeCell, unrolled: this runs over whole long lines.
    for (cells = 0; i < size && cells < most; ++cells) {
        const unsigned char lead = b[i];
        std::size_t length = 0;
        if (lead >= 0xc2 && lead <= 0xdf)
            length = follows(i + 1, 0x80, 0xbf) ? 2 : 0;
        else if (lead >= 0xe0 && lead <= 0xef)
            length = follows(i + 1, lead == 0xe0 ? 0xa0 : 0x80, lead == 0xed ? 0x9f : 0xbf) &&
                             follows(i + 2, 0x80, 0xbf)
                         ? 3
                         : 0;
        else if (lead >= 0xf0 && lead <= 0xf4)
            length = follows(i + 1, lead == 0xf0 ? 0x90 : 0x80, lead == 0xf4 ? 0x8f : 0xbf) &&
                             follows(i + 2, 0x80, 0xbf) && follows(i + 3, 0x80, 0xbf)
                         ? 4
                         : 0;
        if (length == 0)
            break;
        i += length;
    }
    return i;
}
