// What one edit of a text did to its lines, told to whatever keeps work in
// step with the text.
#pragma once

#include <any>
#include <cstdint>

// Text lines [first, first + removed) became `added` lines. A text of n line
// breaks has n + 1 text lines, the last of them empty where the text ends
// with a break. A load that put a whole text in place brings what its tap
// made of it. The bytes before `position` are as they were.
struct LinesChange
{
    std::int64_t first;
    std::int64_t removed;
    std::int64_t added;
    std::any loaded = {};
    std::int64_t position = 0;
};
