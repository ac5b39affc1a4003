// How a text's bytes divide into lines. A line break is CR LF, a lone CR or
// a lone LF; each is counted once, at the byte that ends it, so the next line
// begins right after a counted byte.
#pragma once

#include <cstddef>
#include <cstdint>

// A text is kept in pieces of at most this many bytes, each knowing its
// count of breaks, so that finding a line reads one piece at most.
inline constexpr std::size_t kPieceSize = std::size_t{1} << 16;

// The breaks counted within `bytes`: every LF, and every CR that another byte
// than LF follows. A CR that is the last byte is left out: whether it ends a
// line depends on the byte after it.
std::uint32_t CountBreaks(const char* bytes, std::size_t size);

// Where the `n`th break counted within `bytes` lies (n from 1), or `size`
// where there are fewer.
std::size_t FindBreak(const char* bytes, std::size_t size, std::uint64_t n);
