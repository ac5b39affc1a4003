// The text box's changes, and a load's text as it comes in, for work done
// beside the text box that keeps in step with it.
#pragma once

#include <cstdint>
#include <string_view>

// Text lines [first, first + removed) became `added` lines; `load` numbers
// the load that put the whole text in place (0 for an edit).
struct TLinesChange
{
    int first;
    int removed;
    int added;
    int load = 0;
};

class TLoadTap
{
public:
    virtual ~TLoadTap() = default;

    // A load of `size` bytes (as the file said when opened) begins.
    virtual void Start(std::uint64_t size) = 0;
    // Its next piece, valid during the call only.
    virtual void Take(std::string_view piece) = 0;
    // It ended: its text is in place as load number `load` (from 1), or, with
    // 0, it was cancelled or failed and nothing changed.
    virtual void Finish(int load) = 0;
};
