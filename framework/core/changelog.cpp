#include "changelog.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace {

// Changes nobody has taken yet are summed up beyond this many.
constexpr std::size_t kChangesKept = 4096;

bool SameLow32(std::int64_t a, std::int64_t b)
{
    return static_cast<std::uint32_t>(a) == static_cast<std::uint32_t>(b);
}

int Lines(std::int64_t count)
{
    return static_cast<int>(std::clamp<std::int64_t>(count, 0, INT_MAX));
}

} // namespace

void ChangeLog::Before(std::int64_t position, std::int64_t length, bool deletion)
{
    Settle();
    pending_ = {position, length, deletion, text_.Length(), text_.LineCount()};
}

void ChangeLog::Settle()
{
    if (!pending_)
        return;
    const Pending was = *pending_;
    pending_.reset();
    // The gap buffer leaves its gap just after what was inserted, or where
    // text was deleted.
    const std::int64_t lengthNow = text_.Length();
    const std::int64_t countNow = text_.LineCount();
    const std::int64_t changed =
        was.deletion ? was.lengthBefore - lengthNow : lengthNow - was.lengthBefore;
    const std::int64_t at = was.deletion ? text_.Gap() : text_.Gap() - changed;
    LinesChange change{0, Lines(was.countBefore), Lines(countNow)};
    if (changed >= 0 && at >= 0 && at + (was.deletion ? 0 : changed) <= lengthNow &&
        SameLow32(at, was.position) && SameLow32(changed, was.length)) {
        const std::int64_t firstLine = text_.LineOf(at);
        const std::int64_t lastLine = was.deletion ? firstLine : text_.LineOf(at + changed);
        // One more line on each side, so that a line break joined to or parted
        // from its neighbour is never missed.
        const std::int64_t first = std::max<std::int64_t>(0, firstLine - 1);
        const std::int64_t added = std::min(countNow, lastLine + 2) - first;
        const std::int64_t removed = added - (countNow - was.countBefore);
        if (removed >= 0 && first + removed <= was.countBefore)
            change = {Lines(first), Lines(removed), Lines(added)};
    }
    Record(change);
    if (settled_)
        settled_(change);
}

void ChangeLog::Replaced(std::int64_t oldLineCount, std::any loaded)
{
    pending_.reset();
    Record({0, Lines(oldLineCount), Lines(text_.LineCount()), std::move(loaded)});
}

void ChangeLog::Record(LinesChange change)
{
    if (changes_.empty())
        countBeforeChanges_ = text_.LineCount() - change.added + change.removed;
    changes_.push_back(std::move(change));
    if (changes_.size() > kChangesKept)
        changes_ = {{0, Lines(countBeforeChanges_), Lines(text_.LineCount())}};
}
