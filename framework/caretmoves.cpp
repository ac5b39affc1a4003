#include "caretmoves.h"

#include "textcells.h"

#include <QChar>

#include <algorithm>
#include <string>

namespace {

enum class Kind
{
    Space,
    Word,
    Mark
};

Kind KindOf(const Cell& cell)
{
    if (cell.kind == CellKind::Tab)
        return Kind::Space;
    if (cell.kind != CellKind::Text)
        return Kind::Mark;
    const char32_t c = cell.code;
    if (c < 0x80)
        return c == ' ' ? Kind::Space
               : (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_'
                   ? Kind::Word
                   : Kind::Mark;
    if (QChar::isLetterOrNumber(c) || QChar::isMark(c))
        return Kind::Word;
    return QChar::isSpace(c) ? Kind::Space : Kind::Mark;
}

// The bytes of a line from `from` to `to`, for a word's steps to decode.
struct Window
{
    Window(const TextStore& text, std::int64_t from, std::int64_t to)
        : at(from), bytes(text.Text(from, to - from))
    {
    }
    std::size_t size() const { return bytes.size(); }
    Cell After(std::size_t i) const { return DecodeCell(bytes.data() + i, size() - i); }
    Cell Before(std::size_t i) const
    {
        const auto n = static_cast<std::size_t>(CellBytesBefore(bytes.data() + i, i));
        return DecodeCell(bytes.data() + i - n, n);
    }
    std::int64_t at;
    std::string bytes;
};

} // namespace

std::int64_t CaretMoves::Next(std::int64_t position) const
{
    const std::int64_t line = text_.LineOf(position);
    const std::int64_t end = text_.LineEnd(line);
    if (position >= end)
        return line + 1 < text_.LineCount() ? text_.LineStart(line + 1) : end;
    return position + Window(text_, position, std::min(end, position + 4)).After(0).bytes;
}

std::int64_t CaretMoves::Previous(std::int64_t position) const
{
    const std::int64_t line = text_.LineOf(position);
    const std::int64_t start = text_.LineStart(line);
    if (position <= start)
        return line > 0 ? text_.LineEnd(line - 1) : 0;
    const Window w(text_, std::max(start, position - 4), position);
    return position - w.Before(w.size()).bytes;
}

std::int64_t CaretMoves::NextWord(std::int64_t position) const
{
    const std::int64_t end = text_.LineEnd(text_.LineOf(position));
    if (position >= end)
        return Next(position);
    const Window w(text_, position, std::min(end, position + kReach));
    std::size_t i = 0;
    const Kind first = KindOf(w.After(0));
    const auto skip = [&](Kind kind) {
        for (Cell cell{}; i < w.size() && KindOf(cell = w.After(i)) == kind;)
            i += cell.bytes;
    };
    if (first != Kind::Space)
        skip(first);
    skip(Kind::Space);
    return position + static_cast<std::int64_t>(i);
}

std::int64_t CaretMoves::PreviousWord(std::int64_t position) const
{
    const std::int64_t start = text_.LineStart(text_.LineOf(position));
    if (position <= start)
        return Previous(position);
    const Window w(text_, std::max(start, position - kReach), position);
    std::size_t i = w.size();
    const auto skip = [&](Kind kind) {
        for (Cell cell{}; i > 0 && KindOf(cell = w.Before(i)) == kind;)
            i -= cell.bytes;
    };
    skip(Kind::Space);
    if (i > 0)
        skip(KindOf(w.Before(i)));
    return w.at + static_cast<std::int64_t>(i);
}

std::pair<std::int64_t, std::int64_t> CaretMoves::WordAt(std::int64_t position) const
{
    const std::int64_t line = text_.LineOf(position);
    const std::int64_t start = text_.LineStart(line);
    const std::int64_t end = text_.LineEnd(line);
    if (start == end)
        return {position, position};
    // Past the line's end, the word before it.
    const std::int64_t at = position >= end ? Previous(end) : position;
    const Window w(text_, std::max(start, at - kReach), std::min(end, at + kReach));
    const auto from = static_cast<std::size_t>(at - w.at);
    const Kind kind = KindOf(w.After(from));
    std::size_t first = from;
    std::size_t last = from;
    for (Cell cell{}; first > 0 && KindOf(cell = w.Before(first)) == kind;)
        first -= cell.bytes;
    for (Cell cell{}; last < w.size() && KindOf(cell = w.After(last)) == kind;)
        last += cell.bytes;
    return {w.at + static_cast<std::int64_t>(first), w.at + static_cast<std::int64_t>(last)};
}
