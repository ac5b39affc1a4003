// The text box's changes, and a load's text as it comes in, for work done
// beside the text box that keeps in step with it.
#pragma once

#include <any>
#include <cstdint>
#include <string_view>

// Text lines [first, first + removed) became `added` lines. A load that put
// the whole text in place brings what its tap made of it, if anything.
struct LinesChange
{
    int first;
    int removed;
    int added;
    std::any loaded = {};
};

class LoadTap
{
public:
    virtual ~LoadTap() = default;

    // A load of `size` bytes (as the file said when opened) begins.
    virtual void Start(std::uint64_t size) = 0;
    // Its next piece, valid during the call only.
    virtual void Take(std::string_view piece) = 0;
    // It ended: complete, its text takes the text box's place, and what is
    // made of it here travels with that change; or it was cancelled or
    // failed, and nothing changed.
    virtual std::any Finish(bool complete) = 0;
};
