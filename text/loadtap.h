// Work done beside a load on the text as it comes in, such as converting the
// points, so that it is done when the text takes its place.
#pragma once

#include <any>
#include <cstdint>
#include <string_view>

// A slice whose breaks the tap did not count.
inline constexpr std::uint32_t kUncounted = UINT32_MAX;

class LoadTap
{
public:
    virtual ~LoadTap() = default;

    // A load of `size` bytes (as the file said when opened) begins.
    virtual void Start(std::uint64_t size) = 0;
    // The next piece of the text; its bytes stay where they are until Finish.
    // Where the tap can, it writes the breaks of each kPieceSize slice of the
    // piece, as CountBreaks counts them, into `counts` (one a slice), which
    // stays valid until Finish too; a slice left at kUncounted the load counts.
    virtual void Take(std::string_view piece, std::uint32_t* counts) = 0;
    // How many bytes of the pieces taken it is done with. Sooner or later it
    // is done with every one, whatever befell the work (a bad line, memory
    // running out): the load waits for that.
    virtual std::uint64_t Done() const = 0;
    // The load ended. Complete: waits for what is left, and gives what it
    // made, which travels with the change that puts the text in place.
    // Cancelled or failed: stops soon, and holds nothing more.
    virtual std::any Finish(bool complete) = 0;
};
