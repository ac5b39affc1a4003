// The caret's steps through a text: a character at a time (a whole valid
// character, one byte of an invalid sequence), a line break at a time (CR LF
// is one), or a word at a time. A step reads only bytes near the caret; a
// word step at most kReach of them, however long the word.
#pragma once

#include "textstore.h"

#include <cstdint>
#include <utility>

class CaretMoves
{
public:
    static constexpr std::int64_t kReach = std::int64_t{1} << 18;

    explicit CaretMoves(const TextStore& text) : text_(text) {}

    std::int64_t Next(std::int64_t position) const;
    std::int64_t Previous(std::int64_t position) const;
    // To the start of the next word, past the spaces after this one.
    std::int64_t NextWord(std::int64_t position) const;
    // To the start of this word, or of the one before.
    std::int64_t PreviousWord(std::int64_t position) const;
    // The word, the run of spaces or of marks that holds `position`.
    std::pair<std::int64_t, std::int64_t> WordAt(std::int64_t position) const;

private:
    const TextStore& text_;
};
