// The lines of a text given piece by piece, counted as the text box counts
// its lines, for a text too large to hold.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

class LineCounter
{
public:
    // Line numbers are int from the text box to the kept points.
    static constexpr std::int64_t kMostLines = INT_MAX;

    void Take(std::string_view piece);
    // A break is CR LF, a lone CR or a lone LF; one at the very end does not
    // begin a further line.
    std::int64_t Lines() const { return breaks_ + (open_ ? 1 : 0); }
    bool TooMany() const { return Lines() > kMostLines; }
    // Why such a text is not opened.
    std::string Refusal() const;

private:
    std::int64_t breaks_ = 0;
    bool open_ = false;    // bytes after the last break
    bool afterCr_ = false; // the last piece ended in CR: an LF now is part of that break
};
