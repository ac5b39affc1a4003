// A whole text put together from the blocks a load reads, to take a store's
// place at once, so that a load that fails or is cancelled changes nothing.
#pragma once

#include "textblock.h"

#include <cstdint>
#include <memory>
#include <vector>

class TextBuilder
{
public:
    // The first `size` bytes of `block` come next. Gives room for the break
    // counts of their kPieceSize slices, for a load's tap to fill (those it
    // leaves kUncounted are counted when the text takes its place); it stays
    // valid as long as the builder.
    std::uint32_t* Append(std::unique_ptr<TextBlock> block, std::size_t size);

    std::int64_t Length() const { return length_; }

private:
    friend class TextStore;
    struct Part
    {
        std::unique_ptr<TextBlock> block;
        std::size_t size;
        std::vector<std::uint32_t> counts;
    };
    std::vector<Part> parts_;
    std::int64_t length_ = 0;
};
