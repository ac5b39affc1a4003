// The text box's changes as ranges of lines, with the text's positions in 64
// bits: a text may be larger than 4 GB.
#pragma once

#include "loadtap.h"

#include <any>
#include <cstdint>
#include <functional>
#include <optional>
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
    // `settled` hears of each edit once its lines are known.
    using Settled = std::function<void(const LinesChange&)>;
    ChangeLog(const TextLines& text, Settled settled) : text_(text), settled_(std::move(settled)) {}

    // The text is about to change at `position` by `length` bytes, both known
    // only to their low 32 bits (the text box's notice passes them as int).
    // The change is settled at the next one, or when taken: its whole
    // position is then where the gap stands, and its length what the text's
    // changed by. Where they disagree with the notice, as where something
    // moved the gap, the whole text is taken as changed.
    void Before(std::int64_t position, std::int64_t length, bool deletion);
    void Settle();

    // The whole text was replaced by a load; it had `oldLineCount` lines.
    void Replaced(std::int64_t oldLineCount, std::any loaded);

    // The changes since the last call, in the order made; a change may be
    // reported wider than it was.
    std::vector<LinesChange> Take()
    {
        Settle();
        return std::exchange(changes_, {});
    }

private:
    void Record(LinesChange change);

    const TextLines& text_;
    const Settled settled_;
    struct Pending
    {
        std::int64_t position;
        std::int64_t length;
        bool deletion;
        std::int64_t lengthBefore;
        std::int64_t countBefore;
    };
    std::optional<Pending> pending_;
    // The line count before the changes not yet taken.
    std::int64_t countBeforeChanges_ = 0;
    std::vector<LinesChange> changes_;
};
