// How a line's bytes show, cell by cell on a grid of columns: a valid UTF-8
// character takes one cell, each byte of an invalid sequence one of its own
// (a boxed hex pair, two columns wide), a C0 control or DEL its control
// picture, and a tab runs to the next stop. Every byte shows, and stays.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kTabStop = 8;
inline constexpr int kInvalidColumns = 2;

enum class CellKind : std::uint8_t
{
    Text,
    Control,
    Invalid,
    Tab
};

struct Cell
{
    CellKind kind;
    std::uint8_t bytes;
    char32_t code; // the character; the byte itself where it is none
};

// The cell at the start of `bytes` (size at least 1); a sequence the end
// cuts short is invalid.
Cell DecodeCell(const char* bytes, std::size_t size);

// The columns the cell takes where it begins at `column`.
inline std::int64_t CellColumns(const Cell& cell, std::int64_t column)
{
    switch (cell.kind) {
    case CellKind::Tab:
        return kTabStop - column % kTabStop;
    case CellKind::Invalid:
        return kInvalidColumns;
    default:
        return 1;
    }
}

// The bytes of the cell that ends at `end`, given the `before` bytes there
// are before it (at least 1): a valid character's, or the one invalid byte.
int CellBytesBefore(const char* end, std::size_t before);

// How many bytes from the start are each a cell of one column: ASCII and no
// tab. Runs at the speed of memory, so that a long line's columns are
// counted fast.
std::size_t PlainRun(const char* bytes, std::size_t size);

// How many bytes from the start, up to `size`, are whole characters past
// ASCII, each a cell of one column, at most `most` of them; `cells` says how
// many.
std::size_t WideRun(const char* bytes, std::size_t size, std::size_t most, std::size_t& cells);
