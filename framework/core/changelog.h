// The text box's changes as ranges of lines, with the text's positions in 64
// bits: a text may be larger than 4 GB.
#pragma once

#include "loadtap.h"

#include <cstdint>
#include <utility>
#include <vector>

// What the log asks of the text: its length, its lines as the text box counts
// them (one more than the point lines where the text ends with a break), and
// where its gap stands (the gap buffer's: just after the last insertion, at
// the last deletion).
class TextLines
{
public:
    virtual ~TextLines() = default;
    virtual std::int64_t Length() const = 0;
    virtual std::int64_t LineCount() const = 0;
    virtual std::int64_t LineOf(std::int64_t position) const = 0;
    virtual std::int64_t Gap() const = 0;
};

class ChangeLog
{
public:
    explicit ChangeLog(const TextLines& text) : text_(text) {}

    // The text is about to change.
    void Before();

    struct Span
    {
        std::int64_t position;
        std::int64_t length;
    };
    // It changed at `position` by `length` bytes, both known only to their
    // low 32 bits (the text box's notice passes them as int). Gives them whole;
    // a length of -1 where they could not be told, and the whole text is
    // then taken as changed.
    Span After(std::int64_t position, std::int64_t length, bool deletion);

    // The whole text was replaced; it had `oldLineCount` lines.
    void Replaced(std::int64_t oldLineCount, int load);

    // The changes since the last call, in the order made; a change may be
    // reported wider than it was.
    std::vector<TLinesChange> Take() { return std::exchange(changes_, {}); }

private:
    void Record(TLinesChange change);

    const TextLines& text_;
    std::int64_t lengthBefore_ = 0;
    std::int64_t countBefore_ = 0;
    // The line count before the changes not yet taken.
    std::int64_t countBeforeChanges_ = 0;
    std::vector<TLinesChange> changes_;
};
