#include "linecount.h"

#include <algorithm>
#include <cstring>

void LineCounter::Take(std::string_view piece)
{
    if (piece.empty())
        return;
    if (!afterCr_ && !std::memchr(piece.data(), '\r', piece.size())) {
        // Most texts: LF alone, counted at the speed of memory.
        breaks_ += std::count(piece.begin(), piece.end(), '\n');
    } else {
        for (const char c : piece) {
            if (c == '\r' || (c == '\n' && !afterCr_))
                ++breaks_;
            afterCr_ = c == '\r';
        }
    }
    afterCr_ = piece.back() == '\r';
    open_ = piece.back() != '\n' && piece.back() != '\r';
}

std::string LineCounter::Refusal() const
{
    return "It has " + std::to_string(Lines()) + " lines: at most " + std::to_string(kMostLines) +
           " can be opened.";
}
