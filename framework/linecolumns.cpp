#include "linecolumns.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::int64_t kNowhere = std::numeric_limits<std::int64_t>::max();

} // namespace

LineColumns::Line LineColumns::Of(const TextStore& text, std::int64_t number)
{
    const std::int64_t start = text.LineStart(number);
    return {number, start, text.LineEnd(number) - start};
}

LineColumns::Spot LineColumns::At(const Line& line, std::int64_t position)
{
    return Find(line, std::clamp(position, line.start, line.start + line.length), kNowhere);
}

LineColumns::Spot LineColumns::Under(const Line& line, std::int64_t column)
{
    return Find(line, kNowhere, std::max<std::int64_t>(column, 0));
}

Cell LineColumns::CellAt(std::int64_t position, std::int64_t end) const
{
    char bytes[4];
    std::size_t got = 0;
    text_.Read(position, std::min<std::int64_t>(4, end - position), [&](std::string_view run) {
        std::memcpy(bytes + got, run.data(), run.size());
        got += run.size();
        return true;
    });
    return DecodeCell(bytes, got);
}

LineColumns::Spot LineColumns::Walk(std::int64_t start, std::int64_t end, Spot at,
                                    std::int64_t position, std::int64_t column,
                                    std::vector<Spot>* marks) const
{
    const auto nextMark = [&] { return marks ? start + marks->back().position + kStep : kNowhere; };
    std::int64_t mark = nextMark();
    std::int64_t base = at.position; // where the next run read begins
    // In place, a run of the text at a time.
    text_.Read(at.position, end - at.position, [&](std::string_view run) {
        const auto size = static_cast<std::int64_t>(run.size());
        std::int64_t i = at.position - base; // a cell may have reached into this run
        base += size;
        while (i < size) {
            if (at.position >= mark) {
                marks->push_back({at.position - start, at.column});
                mark = nextMark();
            }
            const std::int64_t room =
                std::min({size - i, position - at.position, mark - at.position});
            const std::int64_t cells = column - at.column;
            if (room <= 0 || cells <= 0)
                return false;
            // Runs of one-column cells at the speed of memory.
            const auto plain = static_cast<std::int64_t>(
                PlainRun(run.data() + i, static_cast<std::size_t>(std::min(room, cells))));
            std::size_t wide = 0;
            const auto bytes = plain > 0 ? plain
                                         : static_cast<std::int64_t>(WideRun(
                                               run.data() + i, static_cast<std::size_t>(room),
                                               static_cast<std::size_t>(cells), wide));
            if (bytes > 0) {
                at.position += bytes;
                at.column += plain > 0 ? plain : static_cast<std::int64_t>(wide);
                i += bytes;
                continue;
            }
            // A cell the run's end cuts is read whole.
            const Cell cell = size - i >= 4 || base == end
                                  ? DecodeCell(run.data() + i, static_cast<std::size_t>(size - i))
                                  : CellAt(at.position, end);
            const std::int64_t width = CellColumns(cell, at.column);
            if (at.column + width > column)
                return false;
            at.position += cell.bytes;
            at.column += width;
            i += cell.bytes;
        }
        return true;
    });
    return at;
}

LineColumns::Spot LineColumns::Find(const Line& line, std::int64_t position, std::int64_t column)
{
    Spot from{line.start, 0};
    std::vector<Spot>* marking = nullptr;
    if (line.length > kStep) {
        Marks& marks = lines_[line.number];
        marks.used = ++clock_;
        std::vector<Spot>& spots = marks.spots;
        if (spots.empty())
            spots.push_back({0, 0});
        const Spot last{line.start + spots.back().position, spots.back().column};
        if (last.position < position && last.column < column) {
            // Past the marks: on from the last, marking the way, once.
            from = last;
            marking = &spots;
        } else {
            const auto after = std::upper_bound(
                spots.begin(), spots.end(), Spot{position - line.start, column},
                [](const Spot& target, const Spot& mark) {
                    return mark.position > target.position || mark.column > target.column;
                });
            from = {line.start + (after - 1)->position, (after - 1)->column};
        }
        if (lines_.size() > kMostLines)
            lines_.erase(std::min_element(lines_.begin(), lines_.end(), [](auto& a, auto& b) {
                return a.second.used < b.second.used;
            }));
    }
    return Walk(line.start, line.start + line.length, from, position, column, marking);
}

void LineColumns::Changed(const LinesChange& change)
{
    std::map<std::int64_t, Marks> kept;
    for (auto& [number, marks] : lines_) {
        if (number < change.first) {
            kept.emplace(number, std::move(marks));
        } else if (number == change.first) {
            // A cell up to four bytes before the change may end differently now.
            const std::int64_t valid = change.position - text_.LineStart(number) - 4;
            std::erase_if(marks.spots, [valid](const Spot& s) { return s.position > valid; });
            kept.emplace(number, std::move(marks));
        } else if (number >= change.first + change.removed) {
            kept.emplace(number + change.added - change.removed, std::move(marks));
        }
    }
    lines_ = std::move(kept);
}
