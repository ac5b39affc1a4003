#include "linecolumns.h"

#include "textcells.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::int64_t kNowhere = std::numeric_limits<std::int64_t>::max();
// Bytes read at a time, plus what the last cell may need.
constexpr std::int64_t kChunk = std::int64_t{1} << 16;

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

LineColumns::Spot LineColumns::Walk(std::int64_t end, Spot at, std::int64_t position,
                                    std::int64_t column)
{
    buffer_.resize(kChunk + 4);
    while (at.position < end && at.position < position) {
        // No more than the target needs: a cell takes up to four bytes.
        const std::int64_t columns = column - at.column;
        const std::int64_t size = std::min({kChunk, end - at.position, position - at.position,
                                            columns < kChunk ? 4 * (columns + 1) : kChunk});
        const std::int64_t read = std::min(size + 3, end - at.position);
        char* const bytes = buffer_.data();
        std::int64_t got = 0;
        text_.Read(at.position, read, [&](std::string_view run) {
            std::memcpy(bytes + got, run.data(), run.size());
            got += static_cast<std::int64_t>(run.size());
            return true;
        });
        std::int64_t i = 0;
        while (i < size) {
            const auto plain =
                static_cast<std::int64_t>(PlainRun(bytes + i, static_cast<std::size_t>(size - i)));
            if (plain > 0) {
                const std::int64_t take = std::max<std::int64_t>(
                    0, std::min({plain, position - at.position, column - at.column}));
                at.position += take;
                at.column += take;
                i += take;
                if (take < plain)
                    return at;
                continue;
            }
            if (at.position >= position)
                return at;
            const Cell cell = DecodeCell(bytes + i, static_cast<std::size_t>(read - i));
            const std::int64_t width = CellColumns(cell, at.column);
            if (at.column + width > column)
                return at;
            at.position += cell.bytes;
            at.column += width;
            i += cell.bytes;
        }
    }
    return at;
}

LineColumns::Spot LineColumns::Find(const Line& line, std::int64_t position, std::int64_t column)
{
    const std::int64_t end = line.start + line.length;
    Spot from{line.start, 0};
    if (line.length > kStep) {
        Marks& marks = lines_[line.number];
        marks.used = ++clock_;
        std::vector<Spot>& spots = marks.spots;
        if (spots.empty())
            spots.push_back({0, 0});
        // Marks as far as the target, made once.
        while (spots.back().position < line.length &&
               line.start + spots.back().position < position && spots.back().column < column) {
            const Spot last{line.start + spots.back().position, spots.back().column};
            const Spot next = Walk(end, last, last.position + kStep, kNowhere);
            spots.push_back({next.position - line.start, next.column});
        }
        // The last mark at or before the target.
        const auto after = std::upper_bound(
            spots.begin(), spots.end(), Spot{position - line.start, column},
            [](const Spot& target, const Spot& mark) {
                return mark.position > target.position || mark.column > target.column;
            });
        from = {line.start + (after - 1)->position, (after - 1)->column};
        if (lines_.size() > kMostLines)
            lines_.erase(std::min_element(lines_.begin(), lines_.end(), [](auto& a, auto& b) {
                return a.second.used < b.second.used;
            }));
    }
    return Walk(end, from, position, column);
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
