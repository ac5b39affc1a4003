#include "memoaccessible.h"

#include "caretmoves.h"
#include "memo.h"
#include "report.h"

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
    // Once per application: Qt forgets its factories as one ends.
    QAccessible::installFactory(Make);
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
        Guard([&] { Memo().Select(startOffset, endOffset); });
}

int MemoAccessible::cursorPosition() const
{
    return ToInt(Memo().Caret());
}

void MemoAccessible::setCursorPosition(int position)
{
    Guard([&] { Memo().Select(position, position); });
}

QString MemoAccessible::text(int startOffset, int endOffset) const
{
    return Answer([&] { return std::pair<std::int64_t, std::int64_t>(startOffset, endOffset); },
                  &startOffset, &endOffset);
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

QString MemoAccessible::Answer(const std::function<std::pair<std::int64_t, std::int64_t>()>& unit,
                               int* startOffset, int* endOffset) const
{
    QString answer;
    Guard([&] {
        const TextStore& store = Memo().Lines->Store();
        const auto [first, last] = unit();
        const std::int64_t from = std::clamp<std::int64_t>(first, 0, store.Length());
        const std::int64_t to = std::clamp<std::int64_t>(last, from, store.Length());
        const std::string bytes = store.Text(from, std::min(to - from, kMostRead));
        answer = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        *startOffset = ToInt(from);
        *endOffset = ToInt(from + static_cast<std::int64_t>(bytes.size()));
    });
    return answer;
}

QString MemoAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                         int* startOffset, int* endOffset) const
{
    return Answer(
        [&] {
            const std::int64_t start = Unit(offset, boundaryType).first;
            const CaretMoves moves(Memo().Lines->Store());
            return start == 0 ? std::pair<std::int64_t, std::int64_t>(0, 0)
                              : Unit(moves.Previous(start), boundaryType);
        },
        startOffset, endOffset);
}

QString MemoAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                        int* startOffset, int* endOffset) const
{
    return Answer(
        [&] {
            const std::int64_t end = Unit(offset, boundaryType).second;
            return end >= Memo().Lines->Store().Length()
                       ? std::pair<std::int64_t, std::int64_t>(end, end)
                       : Unit(end, boundaryType);
        },
        startOffset, endOffset);
}

QString MemoAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                     int* startOffset, int* endOffset) const
{
    return Answer([&] { return Unit(offset, boundaryType); }, startOffset, endOffset);
}

int MemoAccessible::characterCount() const
{
    return ToInt(Memo().Lines->Store().Length());
}

QRect MemoAccessible::characterRect(int offset) const
{
    QRect rect;
    Guard([&] {
        rect = Memo().RectAt(std::clamp<std::int64_t>(offset, 0, Memo().Lines->Store().Length()));
        rect.setWidth(QFontMetrics(Memo().font()).horizontalAdvance(QLatin1Char('0')));
        rect.translate(Memo().viewport()->mapToGlobal(QPoint(0, 0)));
    });
    return rect;
}

int MemoAccessible::offsetAtPoint(const QPoint& point) const
{
    int offset = -1;
    Guard([&] { offset = ToInt(Memo().PositionAt(Memo().viewport()->mapFromGlobal(point))); });
    return offset;
}

void MemoAccessible::scrollToSubstring(int startIndex, int)
{
    Guard([&] {
        Memo().ShowPosition(
            std::clamp<std::int64_t>(startIndex, 0, Memo().Lines->Store().Length()));
    });
}

QString MemoAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    // One plain text throughout.
    (void)offset;
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}
