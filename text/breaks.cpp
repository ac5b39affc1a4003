#include "breaks.h"

#include <algorithm>
#include <cstring>

std::uint32_t CountBreaks(const char* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    // Branch-free, so that the compiler runs it over whole vectors of bytes.
    std::uint32_t count = 0;
    for (std::size_t i = 0; i + 1 < size; ++i)
        count += static_cast<std::uint32_t>((b[i] == '\n') | ((b[i] == '\r') & (b[i + 1] != '\n')));
    return count + (b[size - 1] == '\n' ? 1u : 0u);
}

std::size_t FindBreak(const char* bytes, std::size_t size, std::uint64_t n)
{
    // Far breaks: whole chunks counted at the speed of memory until the one
    // that holds it.
    constexpr std::size_t kChunk = 1024;
    std::size_t at = 0;
    while (n > 16 && size - at > kChunk) {
        const std::size_t end = at + kChunk;
        const std::uint64_t count = CountBreaks(bytes + at, kChunk) +
                                    (bytes[end - 1] == '\r' && bytes[end] != '\n' ? 1 : 0);
        if (count >= n)
            break;
        n -= count;
        at = end;
    }
    // In windows growing from a line's usual length, so that a search costs
    // about the distance it goes, with LFs found fast and CRs, rarer, between.
    std::size_t window = 64;
    for (; at < size; window = std::min(window * 2, std::size_t{1} << 16)) {
        const std::size_t end = std::min(size, at + window);
        const auto* lf = static_cast<const char*>(std::memchr(bytes + at, '\n', end - at));
        const std::size_t lfAt = lf ? static_cast<std::size_t>(lf - bytes) : end;
        while (at < lfAt) {
            const auto* cr = static_cast<const char*>(std::memchr(bytes + at, '\r', lfAt - at));
            if (!cr)
                break;
            at = static_cast<std::size_t>(cr - bytes) + 1;
            // A CR at the very end, or before an LF, ends no line here.
            if (at < size && bytes[at] != '\n' && --n == 0)
                return at - 1;
        }
        at = lfAt;
        if (lfAt < end) {
            if (--n == 0)
                return lfAt;
            ++at;
        }
    }
    return size;
}
