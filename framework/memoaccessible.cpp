#include "memoaccessible.h"

#include "caretmoves.h"
#include "memo.h"

#include <QFontMetrics>

#include <limits>

namespace {

int ToInt(std::int64_t offset)
{
    return static_cast<int>(std::min<std::int64_t>(offset, std::numeric_limits<int>::max()));
}

QAccessibleInterface* Make(const QString& className, QObject* object)
{
    if (className == QLatin1String("TMemo") && object && object->isWidgetType())
        return new MemoAccessible(static_cast<TMemo*>(object));
    return nullptr;
}

} // namespace

void InstallMemoAccessible()
{
    static const bool installed = (QAccessible::installFactory(Make), true);
    (void)installed;
}

MemoAccessible::MemoAccessible(TMemo* memo) : QAccessibleWidget(memo, QAccessible::EditableText) {}

TMemo& MemoAccessible::Memo() const
{
    return *static_cast<TMemo*>(widget());
}

void* MemoAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State MemoAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = state.multiLine = state.selectableText = true;
    return state;
}

QString MemoAccessible::text(QAccessible::Text kind) const
{
    if (kind == QAccessible::Value)
        return text(0, ToInt(kMostRead));
    return QAccessibleWidget::text(kind);
}

void MemoAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex == 0 && Memo().SelLength() > 0) {
        *startOffset = ToInt(Memo().SelStart());
        *endOffset = ToInt(Memo().SelStart() + Memo().SelLength());
    }
}

int MemoAccessible::selectionCount() const
{
    return Memo().SelLength() > 0 ? 1 : 0;
}

void MemoAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void MemoAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        Memo().Select(Memo().Caret(), Memo().Caret());
}

void MemoAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        Memo().Select(startOffset, endOffset);
}

int MemoAccessible::cursorPosition() const
{
    return ToInt(Memo().Caret());
}

void MemoAccessible::setCursorPosition(int position)
{
    Memo().Select(position, position);
}

QString MemoAccessible::text(int startOffset, int endOffset) const
{
    const TextStore& store = Memo().Lines->Store();
    const std::int64_t from = std::clamp<std::int64_t>(startOffset, 0, store.Length());
    const std::int64_t to = std::clamp<std::int64_t>(endOffset, from, store.Length());
    const std::string bytes = store.Text(from, std::min(to - from, kMostRead));
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::pair<std::int64_t, std::int64_t>
MemoAccessible::Unit(std::int64_t offset, QAccessible::TextBoundaryType boundary) const
{
    const TextStore& store = Memo().Lines->Store();
    const CaretMoves moves(store);
    offset = std::clamp<std::int64_t>(offset, 0, store.Length());
    std::pair<std::int64_t, std::int64_t> unit{0, store.Length()};
    switch (boundary) {
    case QAccessible::CharBoundary:
        unit = {offset, moves.Next(offset)};
        break;
    case QAccessible::WordBoundary:
        unit = moves.WordAt(offset);
        break;
    case QAccessible::SentenceBoundary:
    case QAccessible::ParagraphBoundary:
    case QAccessible::LineBoundary: {
        const std::int64_t line = store.LineOf(offset);
        unit = {store.LineStart(line),
                line + 1 < store.LineCount() ? store.LineStart(line + 1) : store.Length()};
        break;
    }
    case QAccessible::NoBoundary:
        break;
    }
    // Of a long unit, the part about the offset.
    if (unit.second - unit.first > kMostRead) {
        unit.first = std::max(unit.first, offset - kMostRead / 2);
        unit.second = std::min(unit.second, unit.first + kMostRead);
    }
    return unit;
}

QString MemoAccessible::Answer(std::pair<std::int64_t, std::int64_t> unit, int* startOffset,
                               int* endOffset) const
{
    *startOffset = ToInt(unit.first);
    *endOffset = ToInt(unit.second);
    return text(*startOffset, *endOffset);
}

QString MemoAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                         int* startOffset, int* endOffset) const
{
    const std::int64_t start = Unit(offset, boundaryType).first;
    if (start == 0)
        return Answer({0, 0}, startOffset, endOffset);
    const CaretMoves moves(Memo().Lines->Store());
    return Answer(Unit(moves.Previous(start), boundaryType), startOffset, endOffset);
}

QString MemoAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                        int* startOffset, int* endOffset) const
{
    const std::int64_t end = Unit(offset, boundaryType).second;
    if (end >= Memo().Lines->Store().Length())
        return Answer({end, end}, startOffset, endOffset);
    return Answer(Unit(end, boundaryType), startOffset, endOffset);
}

QString MemoAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                     int* startOffset, int* endOffset) const
{
    return Answer(Unit(offset, boundaryType), startOffset, endOffset);
}

int MemoAccessible::characterCount() const
{
    return ToInt(Memo().Lines->Store().Length());
}

QRect MemoAccessible::characterRect(int offset) const
{
    QRect rect = Memo().RectAt(offset);
    rect.setWidth(QFontMetrics(Memo().font()).horizontalAdvance(QLatin1Char('0')));
    return rect.translated(Memo().viewport()->mapToGlobal(QPoint(0, 0)));
}

int MemoAccessible::offsetAtPoint(const QPoint& point) const
{
    return ToInt(Memo().PositionAt(Memo().viewport()->mapFromGlobal(point)));
}

void MemoAccessible::scrollToSubstring(int startIndex, int)
{
    Memo().ShowPosition(startIndex);
}

QString MemoAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    // One plain text throughout.
    (void)offset;
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}
