// The visible part of one line laid out on the grid of cells: what shows
// where, and the column of a position within it.
#pragma once

#include "textcells.h"

#include <QColor>
#include <QFont>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

class QPainter;

// How the text box draws: its fonts, the size of a cell and its colours.
struct LineStyle
{
    QFont font;
    QFont small;           // for the hex of a byte boxed
    bool pictures = false; // the font has the control pictures
    qreal cell = 1;
    int height = 1;
    int ascent = 0;
    QColor text;
    QColor marks; // control pictures and invalid bytes
    QColor selection;
    QColor selected;
};

class LineLayout
{
public:
    // Lays out `bytes`, which begin on a cell boundary at `position` in the
    // text and at `column`, up to column `until`; `whole` where they run to
    // the line's end.
    void Lay(std::string_view bytes, std::int64_t position, std::int64_t column, std::int64_t until,
             bool whole);

    // The column at which the boundary `position` shows, where it is laid out.
    std::optional<std::int64_t> ColumnOf(std::int64_t position) const;

    // Draws the line with x `left` for column `first` and `top` its top, the
    // bytes [from, to) selected, its break too where `breakSelected`.
    void Draw(QPainter& painter, const LineStyle& style, qreal left, std::int64_t first, int top,
              std::int64_t from, std::int64_t to, bool breakSelected) const;

private:
    struct Item
    {
        std::int64_t position;
        std::int64_t column;
        Cell cell;
        std::int64_t columns;
    };
    std::vector<Item> items_;
    std::int64_t end_ = 0; // the boundary after the last item, and its column
    std::int64_t endColumn_ = 0;
    bool whole_ = false;
};
