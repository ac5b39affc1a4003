#include "textbuilder.h"

#include "breaks.h"
#include "loadtap.h"

std::uint32_t* TextBuilder::Append(std::unique_ptr<TextBlock> block, std::size_t size)
{
    const std::size_t slices = (size + kPieceSize - 1) / kPieceSize;
    parts_.push_back({std::move(block), size, std::vector<std::uint32_t>(slices, kUncounted)});
    length_ += static_cast<std::int64_t>(size);
    return parts_.back().counts.data();
}
