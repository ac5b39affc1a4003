#include "breaks.h"

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
    for (std::size_t at = 0; at < size;) {
        // The next LF is found fast; a CR before it, rare, is a break sooner.
        const auto* lf = static_cast<const char*>(std::memchr(bytes + at, '\n', size - at));
        const std::size_t lfAt = lf ? static_cast<std::size_t>(lf - bytes) : size;
        while (at < lfAt) {
            const auto* cr = static_cast<const char*>(std::memchr(bytes + at, '\r', lfAt - at));
            if (!cr)
                break;
            at = static_cast<std::size_t>(cr - bytes) + 1;
            // A CR at the very end, or before the LF, ends no line here.
            if (at < size && bytes[at] != '\n' && --n == 0)
                return at - 1;
        }
        if (lfAt == size)
            return size;
        if (--n == 0)
            return lfAt;
        at = lfAt + 1;
    }
    return size;
}
