// Where a line's bytes show, in columns, for lines of any length. A long
// line keeps marks, every few kilobytes, of the column a cell begins at,
// made as far as anything has asked and cut back where an edit begins, so
// that a position and its column are found from the nearest mark, not from
// the line's start.
#pragma once

#include "lineschange.h"
#include "textcells.h"
#include "textstore.h"

#include <cstdint>
#include <map>
#include <vector>

class LineColumns
{
public:
    explicit LineColumns(const TextStore& text) : text_(text) {}

    struct Line
    {
        std::int64_t number;
        std::int64_t start;
        std::int64_t length; // without its break
    };
    static Line Of(const TextStore& text, std::int64_t number);

    // A cell's beginning: where it is in the text, and its column.
    struct Spot
    {
        std::int64_t position;
        std::int64_t column;
    };
    // The first cell boundary at or after `position`, within the line.
    Spot At(const Line& line, std::int64_t position);
    // Where the cell that shows at `column` begins; the line's end past its
    // last cell.
    Spot Under(const Line& line, std::int64_t column);

    // The text changed as told: marks after the change's start go.
    void Changed(const LinesChange& change);

private:
    static constexpr std::int64_t kStep = 4096;
    // More than a screen shows, so that a paint never walks a line again.
    static constexpr std::size_t kMostLines = 512;

    struct Marks
    {
        std::vector<Spot> spots; // from the line's start, every kStep bytes or so
        std::uint64_t used = 0;
    };
    // The first boundary at or after `position`, or the one beginning the
    // cell that holds `column`.
    Spot Find(const Line& line, std::int64_t position, std::int64_t column);
    // The same from `from` on in the line [start, end), adding to `marks` on
    // the way where given.
    Spot Walk(std::int64_t start, std::int64_t end, Spot from, std::int64_t position,
              std::int64_t column, std::vector<Spot>* marks) const;
    // The cell at `position`, read whole.
    Cell CellAt(std::int64_t position, std::int64_t end) const;

    const TextStore& text_;
    std::map<std::int64_t, Marks> lines_;
    std::uint64_t clock_ = 0;
};
