// One block of a text being loaded: the points of its lines, and its breaks
// counted a slice at a time, found in one pass over its bytes. A block begins
// and ends where slices do, and its own lines are those that begin and end in
// it: the line it begins within ends in its head, and the line it ends within
// begins in its tail, to be joined with the blocks beside it.
#pragma once

#include "cloudpoints.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

class BlockLines
{
public:
    explicit BlockLines(char decimalSeparator) : separator_(decimalSeparator) {}

    // Reads [begin, end); the bytes up to `readable` may be read too.
    // `afterCr`: the byte before `begin` is a CR. The breaks of each
    // kPieceSize slice, as CountBreaks counts them, go to `counts`. Where
    // `convert` is false, it only counts.
    void Read(const char* begin, const char* end, const char* readable, bool afterCr,
              std::uint32_t* counts, bool convert);

    // The rest of the line the block begins within, and whether it ends in
    // the block.
    std::string_view Head() const { return head_; }
    bool HeadEnds() const { return headEnds_; }
    // The start of the line that goes on past the block.
    std::string_view Tail() const { return tail_; }
    // x, y, z of each of its own lines, up to the first that is no point.
    const float* Points() const { return points_.get(); }
    std::size_t PointCount() const { return pointCount_; }
    // That line's error, if there is one: the points stop there.
    const std::exception_ptr& Error() const { return error_; }
    const std::string& Message() const { return message_; }

private:
    const char separator_;
    std::string_view head_;
    bool headEnds_ = false;
    std::string_view tail_;
    std::unique_ptr<float[]> points_;
    std::size_t capacity_ = 0; // floats
    std::size_t pointCount_ = 0;
    std::exception_ptr error_;
    std::string message_;
    TStringList scratch_;
};
