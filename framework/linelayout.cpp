#include "linelayout.h"

#include <QPainter>

#include <algorithm>

void LineLayout::Lay(std::string_view bytes, std::int64_t position, std::int64_t column,
                     std::int64_t until, bool whole)
{
    items_.clear();
    std::size_t i = 0;
    while (i < bytes.size() && column < until) {
        const Cell cell = DecodeCell(bytes.data() + i, bytes.size() - i);
        const std::int64_t columns = CellColumns(cell, column);
        items_.push_back({position, column, cell, columns});
        position += cell.bytes;
        column += columns;
        i += cell.bytes;
    }
    end_ = position;
    endColumn_ = column;
    whole_ = whole && i == bytes.size();
}

std::optional<std::int64_t> LineLayout::ColumnOf(std::int64_t position) const
{
    if (position == end_)
        return endColumn_;
    const auto item =
        std::lower_bound(items_.begin(), items_.end(), position,
                         [](const Item& a, std::int64_t p) { return a.position < p; });
    if (item == items_.end() || item->position != position)
        return std::nullopt;
    return item->column;
}

void LineLayout::Draw(QPainter& painter, const LineStyle& style, qreal left, std::int64_t first,
                      int top, std::int64_t from, std::int64_t to, bool breakSelected) const
{
    const auto x = [&](std::int64_t column) {
        return left + static_cast<qreal>(column - first) * style.cell;
    };
    const auto selected = [&](const Item& item) {
        return item.position >= from && item.position < to;
    };
    // The selection, one block; a cell more where it takes in the break.
    std::optional<std::int64_t> selFirst;
    std::int64_t selEnd = 0;
    for (const Item& item : items_) {
        if (selected(item)) {
            selFirst = selFirst.value_or(item.column);
            selEnd = item.column + item.columns;
        }
    }
    if (breakSelected && whole_) {
        selFirst = selFirst.value_or(endColumn_);
        selEnd = endColumn_ + 1;
    }
    if (selFirst)
        painter.fillRect(QRectF(x(*selFirst), top, x(selEnd) - x(*selFirst), style.height),
                         style.selection);

    const qreal baseline = top + style.ascent;
    // Plain ASCII in runs, one call each; every other cell on its own, at its
    // column whatever the advance of the font that has its glyph.
    QString run;
    qreal runX = 0;
    bool runSelected = false;
    const auto flush = [&] {
        if (run.isEmpty())
            return;
        painter.setPen(runSelected ? style.selected : style.text);
        painter.drawText(QPointF(runX, baseline), run);
        run.clear();
    };
    for (const Item& item : items_) {
        const bool sel = selected(item);
        const Cell& cell = item.cell;
        const qreal at = x(item.column);
        if (cell.kind == CellKind::Text && cell.code < 0x80) {
            if (!run.isEmpty() && sel != runSelected)
                flush();
            if (run.isEmpty())
                runX = at, runSelected = sel;
            run += QChar(static_cast<char16_t>(cell.code));
            continue;
        }
        flush();
        painter.setPen(sel                           ? style.selected
                       : cell.kind == CellKind::Text ? style.text
                                                     : style.marks);
        switch (cell.kind) {
        case CellKind::Text:
            painter.drawText(QPointF(at, baseline), QString::fromUcs4(&cell.code, 1));
            break;
        case CellKind::Control:
            if (style.pictures) {
                const auto picture =
                    static_cast<char16_t>(cell.code == 0x7f ? 0x2421 : 0x2400 + cell.code);
                painter.drawText(QPointF(at, baseline), QChar(picture));
                break;
            }
            [[fallthrough]];
        case CellKind::Invalid: {
            // A boxed hex pair: side by side in an invalid byte's two
            // columns, one over the other in a control's one.
            const qreal width = style.cell * static_cast<qreal>(item.columns);
            const QRectF box(at + 0.5, top + 1.5, width - 1, style.height - 3);
            const QString hex = QStringLiteral("%1")
                                    .arg(static_cast<uint>(cell.code), 2, 16, QLatin1Char('0'))
                                    .toUpper();
            painter.drawRect(box);
            painter.setFont(style.small);
            if (cell.kind == CellKind::Invalid) {
                painter.drawText(box, Qt::AlignCenter, hex);
            } else {
                const QRectF half(box.left(), box.top(), box.width(), box.height() / 2);
                painter.drawText(half, Qt::AlignCenter, hex.left(1));
                painter.drawText(half.translated(0, half.height()), Qt::AlignCenter, hex.right(1));
            }
            painter.setFont(style.font);
            break;
        }
        case CellKind::Tab:
            break;
        }
    }
    flush();
}
