#include "blocklines.h"
#include "breaks.h"
#include "plainline.h"

#include <algorithm>
#include <cstring>

namespace {

// The first CR or LF in [p, end), or end.
const char* FirstBreak(const char* p, const char* end)
{
    const auto* lf =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* const stop = lf ? lf : end;
    const auto* cr =
        static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(stop - p)));
    return cr ? cr : stop;
}

// The breaks of a block's slices, counted in order as they are found.
class SliceCounts
{
public:
    SliceCounts(const char* begin, const char* end, std::uint32_t* counts)
        : begin_(begin), end_(end), sliceEnd_(Next(begin)), slice_(counts),
          last_(counts + (static_cast<std::size_t>(end - begin) + kPieceSize - 1) / kPieceSize)
    {
    }

    // A break ends at `at`.
    void Count(const char* at)
    {
        while (at >= sliceEnd_)
            NextSlice();
        ++count_;
    }

    // A line's break begins at `at`: the next line's start.
    const char* Break(const char* at)
    {
        if (*at == '\n') {
            Count(at);
            return at + 1;
        }
        if (end_ - at > 1 && at[1] == '\n') {
            Count(at + 1);
            return at + 2;
        }
        // A CR that ends a slice is left out, as what follows decides.
        if (at + 1 != end_ && static_cast<std::size_t>(at + 1 - begin_) % kPieceSize != 0)
            Count(at);
        return at + 1;
    }

    // Counts [p, end) by the slice, without looking at the lines.
    void CountRest(const char* p)
    {
        while (p != end_) {
            while (p >= sliceEnd_)
                NextSlice();
            count_ += CountBreaks(p, static_cast<std::size_t>(sliceEnd_ - p));
            p = sliceEnd_;
        }
    }

    ~SliceCounts()
    {
        while (slice_ != last_)
            NextSlice();
    }
    SliceCounts(const SliceCounts&) = delete;
    SliceCounts& operator=(const SliceCounts&) = delete;

private:
    const char* Next(const char* at) const
    {
        return end_ - at > static_cast<std::ptrdiff_t>(kPieceSize) ? at + kPieceSize : end_;
    }
    void NextSlice()
    {
        *slice_++ = count_;
        count_ = 0;
        sliceEnd_ = Next(sliceEnd_);
    }

    const char* const begin_;
    const char* const end_;
    const char* sliceEnd_;
    std::uint32_t* slice_;
    std::uint32_t* const last_;
    std::uint32_t count_ = 0;
};

} // namespace

void BlockLines::Read(const char* begin, const char* end, const char* readable, bool afterCr,
                      std::uint32_t* counts, bool convert)
{
    head_ = tail_ = {};
    headEnds_ = false;
    pointCount_ = 0;
    error_ = nullptr;
    SliceCounts slices(begin, end, counts);
    if (!convert) {
        slices.CountRest(begin);
        return;
    }
    // A point's line takes six bytes at least, its break with it.
    const auto most = static_cast<std::size_t>(end - begin) / 6 * 3 + 3;
    if (capacity_ < most) {
        points_.reset();
        points_ = std::make_unique_for_overwrite<float[]>(most);
        capacity_ = most;
    }

    const char* p = begin;
    if (afterCr && p != end && *p == '\n')
        slices.Count(p++);
    const char* const headEnd = FirstBreak(p, end);
    head_ = {p, static_cast<std::size_t>(headEnd - p)};
    if (headEnd == end)
        return;
    headEnds_ = true;
    p = slices.Break(headEnd);

    const char dot = PlainPoint(separator_);
    float* out = points_.get();
    while (p != end) {
        double xyz[3];
        const char* const after =
            dot != '\0' && readable - p >= static_cast<std::ptrdiff_t>(kPlainReadAhead)
                ? ReadPlainPoint(p, dot, xyz)
                : nullptr;
        if (after && after >= end)
            break; // the line goes on past the block
        const char* const lineEnd =
            after && *after == '\n' ? after : FirstBreak(after ? after : p, end);
        if (lineEnd == end)
            break;
        if (after) {
            for (int i = 0; i < 3; ++i)
                out[i] = static_cast<float>(xyz[i]);
        } else if (const std::string_view line(p, static_cast<std::size_t>(lineEnd - p));
                   !ConvertLine(line, scratch_, separator_, out)) {
            KeepError(line, scratch_, separator_, error_, message_);
            pointCount_ = static_cast<std::size_t>(out - points_.get()) / 3;
            slices.CountRest(slices.Break(lineEnd));
            return;
        }
        out += 3;
        p = slices.Break(lineEnd);
    }
    tail_ = {p, static_cast<std::size_t>(end - p)};
    pointCount_ = static_cast<std::size_t>(out - points_.get()) / 3;
}
