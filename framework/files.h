#pragma once

#include "sysutils.h"

#include <cstdint>
#include <functional>
#include <string_view>

// Given each piece of the file in turn, with the bytes read so far and the
// file's size when it was opened; told the size first with an empty piece.
// Returning false stops the reading; running out of memory fails it, with
// the path and the reason.
using TakePiece =
    std::function<bool(std::string_view piece, std::uint64_t done, std::uint64_t size)>;

// Raises the Exception of a file that cannot be opened, with the reason.
[[noreturn]] void FailToOpen(const std::string& path, const std::string& reason);

// Reads a regular file piece by piece to its end, also where that is not
// where its size said. A file that cannot be read raises an Exception naming
// the path and the reason. False when `take` stopped it.
bool ReadFilePieces(const std::string& path, std::size_t pieceSize, const TakePiece& take);
