#include "memo.h"

#include "memoaccessible.h"
#include "memomime.h"
#include "report.h"
#include "textcells.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>

#include <cmath>
#include <limits>

namespace {

// A scroll bar's range is an int: past this many steps it moves in
// proportion rather than a line or a column a step.
constexpr std::int64_t kBarMost = std::int64_t{1} << 30;
// What the input method is told of the text around the caret, either side.
constexpr std::int64_t kAround = 512;

int ToBar(std::int64_t value, std::int64_t most)
{
    if (most <= kBarMost)
        return static_cast<int>(value);
    return static_cast<int>(static_cast<long double>(value) * kBarMost / most);
}

std::int64_t FromBar(int value, std::int64_t most)
{
    if (most <= kBarMost)
        return value;
    return std::llround(static_cast<long double>(value) * most / kBarMost);
}

void SetBar(QScrollBar& bar, std::int64_t value, std::int64_t most, std::int64_t page)
{
    const auto top = static_cast<int>(std::min(most, kBarMost));
    bar.setRange(0, top);
    bar.setPageStep(
        static_cast<int>(std::max<std::int64_t>(1, most <= kBarMost ? page : page * top / most)));
    bar.setValue(ToBar(value, most));
}

int Clamped(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min() / 2,
                                                     std::numeric_limits<int>::max() / 2));
}

// A flag raised for a scope, also one left by an exception.
struct Raise
{
    explicit Raise(bool& flag) : flag_(flag) { flag_ = true; }
    ~Raise() { flag_ = false; }
    bool& flag_;
};

} // namespace

TMemo::TMemo(QWidget* parent)
    : QAbstractScrollArea(parent), Lines(&lines_), lines_(text_, *this), columns_(text_),
      moves_(text_)
{
    text_.SetListener([this](LinesChange change) { TextChanged(std::move(change)); });
    InstallMemoAccessible();
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setKerning(false);
    setFont(fixed);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setCursor(Qt::IBeamCursor);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(&blink_, &QTimer::timeout, this, [this] {
        Guard([this] {
            caretShown_ = !caretShown_;
            viewport()->update();
        });
    });
    connect(&autoScroll_, &QTimer::timeout, this,
            [this] { Guard([this] { Select(anchor_, PositionAt(mouse_)); }); });
    Restyle();
    UpdateBars();
}

TMemo::~TMemo() = default;

void TMemo::TextChanged(LinesChange change)
{
    columns_.Changed(change);
    if (!editing_ || change.loaded.has_value()) {
        // A new text: from its start.
        anchor_ = caret_ = firstLine_ = firstColumn_ = widest_ = 0;
        goal_.reset();
        run_ = Run::None;
        preedit_.clear();
        for (MemoMime* offer : {offered_.data(), dragged_.data()})
            if (offer)
                offer->Forget();
        if (QAccessible::isActive()) {
            QAccessibleTextUpdateEvent event(this, 0, {}, {});
            QAccessible::updateAccessibility(&event);
        }
    }
    anchor_ = std::min(anchor_, text_.Length());
    caret_ = std::min(caret_, text_.Length());
    lines_.Changed(std::move(change));
    NoteEdit();
    UpdateBars();
    viewport()->update();
}

void TMemo::BeforeChange()
{
    for (MemoMime* offer : {offered_.data(), dragged_.data()})
        if (offer)
            offer->Keep();
}

void TMemo::EndRun()
{
    run_ = Run::None;
    text_.EndStep();
}

void TMemo::Edit(std::int64_t position, std::int64_t length, std::string_view bytes, Run run)
{
    BeforeChange();
    {
        const Raise editing(editing_);
        text_.Replace(position, length, bytes, run != Run::None && run == run_);
    }
    run_ = run;
    anchor_ = caret_ = position + static_cast<std::int64_t>(bytes.size());
    goal_.reset();
    if (QAccessible::isActive()) {
        const auto shown = bytes.substr(0, std::min<std::size_t>(bytes.size(), 4096));
        QAccessibleTextUpdateEvent event(
            this, Clamped(position), {},
            QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())));
        QAccessible::updateAccessibility(&event);
    }
    ShowCaret();
}

std::int64_t TMemo::SelStart() const
{
    return std::min(anchor_, caret_);
}

void TMemo::SetSelStart(std::int64_t position)
{
    Select(position, position);
}

std::int64_t TMemo::SelLength() const
{
    return SelEnd() - SelStart();
}

void TMemo::SetSelLength(std::int64_t length)
{
    const std::int64_t start = SelStart();
    Select(start, std::clamp<std::int64_t>(start + length, start, text_.Length()));
}

std::string TMemo::SelText() const
{
    return text_.Text(SelStart(), SelLength());
}

void TMemo::SetSelText(std::string_view text)
{
    Edit(SelStart(), SelLength(), text, Run::None);
}

void TMemo::SelectAll()
{
    Select(0, text_.Length());
}

bool TMemo::CanUndo() const
{
    return text_.CanUndo();
}

bool TMemo::CanRedo() const
{
    return text_.CanRedo();
}

void TMemo::Undo()
{
    Step(&TextStore::Undo);
}

void TMemo::Redo()
{
    Step(&TextStore::Redo);
}

void TMemo::Step(std::optional<TextStore::Span> (TextStore::*step)())
{
    EndRun();
    BeforeChange();
    std::optional<TextStore::Span> span;
    {
        const Raise editing(editing_);
        span = (text_.*step)();
    }
    if (span)
        Select(span->position + span->length, span->position + span->length);
}

void TMemo::CutToClipboard()
{
    CopyToClipboard();
    ClearSelection();
}

void TMemo::CopyToClipboard()
{
    // The whole selection, copied now: the clipboard outlives any change.
    if (anchor_ != caret_)
        QApplication::clipboard()->setMimeData(new MemoMime(SelText()));
}

void TMemo::PasteFromClipboard()
{
    if (const QMimeData* pasted = QApplication::clipboard()->mimeData())
        Edit(SelStart(), SelLength(), BytesOf(*pasted), Run::None);
}

void TMemo::ClearSelection()
{
    if (anchor_ != caret_)
        Edit(SelStart(), SelLength(), {}, Run::None);
}

// ---- Where things are

std::int64_t TMemo::Rows() const
{
    return std::max(1, viewport()->height() / style_.height);
}

std::int64_t TMemo::Columns() const
{
    return std::max<std::int64_t>(
        1, static_cast<std::int64_t>((viewport()->width() - kMargin) / style_.cell));
}

std::int64_t TMemo::ColumnOf(std::int64_t position) const
{
    return columns_.At(LineColumns::Of(text_, text_.LineOf(position)), position).column;
}

std::int64_t TMemo::Nearest(std::int64_t line, double column) const
{
    const LineColumns::Line l = LineColumns::Of(text_, line);
    const LineColumns::Spot spot =
        columns_.Under(l, static_cast<std::int64_t>(std::floor(std::max(column, 0.0))));
    const std::int64_t end = l.start + l.length;
    if (spot.position >= end)
        return end;
    const std::string bytes =
        text_.Text(spot.position, std::min<std::int64_t>(4, end - spot.position));
    const Cell cell = DecodeCell(bytes.data(), bytes.size());
    const auto width = static_cast<double>(CellColumns(cell, spot.column));
    return column - static_cast<double>(spot.column) > width / 2 ? spot.position + cell.bytes
                                                                 : spot.position;
}

std::int64_t TMemo::PositionAt(QPointF point) const
{
    const auto row = static_cast<std::int64_t>(std::floor(point.y() / style_.height));
    const std::int64_t line = std::clamp<std::int64_t>(firstLine_ + row, 0, text_.LineCount() - 1);
    return Nearest(line, static_cast<double>(firstColumn_) + (point.x() - kMargin) / style_.cell);
}

QRect TMemo::RectAt(std::int64_t position) const
{
    const std::int64_t line = text_.LineOf(position);
    const double x = kMargin + static_cast<double>(ColumnOf(position) - firstColumn_) * style_.cell;
    return {Clamped(std::llround(x)), Clamped((line - firstLine_) * style_.height), 1,
            style_.height};
}

void TMemo::ShowPosition(std::int64_t position)
{
    const std::int64_t line = text_.LineOf(position);
    const std::int64_t rows = Rows();
    if (line < firstLine_)
        firstLine_ = line;
    else if (line >= firstLine_ + rows)
        firstLine_ = line - rows + 1;
    const std::int64_t column = ColumnOf(position);
    const std::int64_t columns = Columns();
    if (column < firstColumn_)
        firstColumn_ = column;
    else if (column >= firstColumn_ + columns)
        firstColumn_ = column - columns + 1;
    widest_ = std::max(widest_, column);
    UpdateBars();
    viewport()->update();
}

// ---- The caret and the selection

void TMemo::Select(std::int64_t anchor, std::int64_t caret)
{
    EndRun();
    anchor_ = std::clamp<std::int64_t>(anchor, 0, text_.Length());
    caret_ = std::clamp<std::int64_t>(caret, 0, text_.Length());
    goal_.reset();
    ShowCaret();
    OfferSelection();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent event(this, Clamped(caret_));
        QAccessible::updateAccessibility(&event);
    }
}

void TMemo::ShowCaret()
{
    ShowPosition(caret_);
    caretShown_ = true;
    if (const int flash = QGuiApplication::styleHints()->cursorFlashTime(); flash > 0 && hasFocus())
        blink_.start(flash / 2);
}

void TMemo::OfferSelection()
{
    QClipboard& clipboard = *QApplication::clipboard();
    if (anchor_ == caret_ || !clipboard.supportsSelection())
        return;
    // The offer reads the text when asked: a move of the mouse costs nothing.
    if (offered_ && offered_->Source() == this && clipboard.ownsSelection() &&
        clipboard.mimeData(QClipboard::Selection) == offered_.data()) {
        offered_->Reach(SelStart(), SelLength());
        return;
    }
    offered_ = new MemoMime(*this, text_, SelStart(), SelLength());
    clipboard.setMimeData(offered_.data(), QClipboard::Selection);
}

void TMemo::PasteSelectionAt(QPointF point)
{
    const QClipboard& clipboard = *QApplication::clipboard();
    const QMimeData* offer =
        clipboard.supportsSelection() ? clipboard.mimeData(QClipboard::Selection) : nullptr;
    if (!offer)
        return;
    const std::string bytes = BytesOf(*offer);
    const std::int64_t at = PositionAt(point);
    Select(at, at);
    Edit(at, 0, bytes, Run::None);
}

// ---- Keys

std::function<void()> TMemo::ActionFor(const QKeyEvent& event)
{
    static const struct
    {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
        Motion motion;
    } kMoves[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Motion::Right},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Motion::Left},
        {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Motion::WordRight},
        {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Motion::WordLeft},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Motion::Down},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Motion::Up},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Motion::PageDown},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Motion::PageUp},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Motion::LineStart},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Motion::LineEnd},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument,
         Motion::TextStart},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Motion::TextEnd},
    };
    for (const auto& m : kMoves) {
        if (event.matches(m.move))
            return [this, m] { Move(m.motion, false); };
        if (event.matches(m.select))
            return [this, m] { Move(m.motion, true); };
    }
    const QKeyCombination keys = event.keyCombination();
    if (event.matches(QKeySequence::Undo))
        return [this] { Undo(); };
    if (event.matches(QKeySequence::Redo) || keys == (Qt::ControlModifier | Qt::Key_Y) ||
        keys == (Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Z))
        return [this] { Redo(); };
    if (event.matches(QKeySequence::Copy))
        return [this] { CopyToClipboard(); };
    if (event.matches(QKeySequence::Cut))
        return [this] { CutToClipboard(); };
    if (event.matches(QKeySequence::Paste))
        return [this] { EndRun(), PasteFromClipboard(); };
    if (event.matches(QKeySequence::SelectAll))
        return [this] { SelectAll(); };
    if (event.matches(QKeySequence::Delete))
        return [this] { Erase(true, false); };
    if (event.matches(QKeySequence::DeleteEndOfWord))
        return [this] { Erase(true, true); };
    if (event.matches(QKeySequence::DeleteStartOfWord))
        return [this] { Erase(false, true); };
    if (event.matches(QKeySequence::InsertParagraphSeparator) ||
        event.matches(QKeySequence::InsertLineSeparator))
        return [this] { Type(LineBreak()); };
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    if (event.key() == Qt::Key_Backspace && !(mods & ~Qt::ShiftModifier))
        return [this] { Erase(false, false); };
    if ((event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab) &&
        (mods & Qt::ControlModifier))
        return [this, next = event.key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier)] {
            QAbstractScrollArea::focusNextPrevChild(next);
        };
    if (event.key() == Qt::Key_Tab && !mods)
        return [this] { Type("\t"); };
    // Text, unless a command key makes it one (AltGr may come as Ctrl+Alt).
    const bool command = (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
                         !((mods & Qt::ControlModifier) && (mods & Qt::AltModifier));
    const QString text = event.text();
    if (!command && !text.isEmpty() && text.at(0).isPrint())
        return [this, bytes = text.toUtf8()] {
            Type(std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())));
        };
    return {};
}

bool TMemo::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // Keys of the text box's own go to it, not to a shortcut of the window.
        if (ActionFor(*static_cast<QKeyEvent*>(event))) {
            event->accept();
            return true;
        }
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Tab types a tab; Shift+Tab and Ctrl+Tab move the focus on.
        if (key->key() == Qt::Key_Tab && !(key->modifiers() & ~Qt::KeypadModifier)) {
            keyPressEvent(key);
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TMemo::keyPressEvent(QKeyEvent* event)
{
    Guard([&] {
        if (const auto action = ActionFor(*event)) {
            action();
            event->accept();
        } else {
            event->ignore();
        }
    });
}

void TMemo::Move(Motion motion, bool select)
{
    const bool collapse = !select && anchor_ != caret_;
    std::int64_t to = caret_;
    std::optional<std::int64_t> goal;
    switch (motion) {
    case Motion::Left:
        to = collapse ? SelStart() : moves_.Previous(caret_);
        break;
    case Motion::Right:
        to = collapse ? SelEnd() : moves_.Next(caret_);
        break;
    case Motion::WordLeft:
        to = moves_.PreviousWord(caret_);
        break;
    case Motion::WordRight:
        to = moves_.NextWord(caret_);
        break;
    case Motion::Up:
    case Motion::Down:
    case Motion::PageUp:
    case Motion::PageDown: {
        const bool page = motion == Motion::PageUp || motion == Motion::PageDown;
        const bool down = motion == Motion::Down || motion == Motion::PageDown;
        const std::int64_t rows =
            (page ? std::max<std::int64_t>(1, Rows() - 1) : 1) * (down ? 1 : -1);
        const std::int64_t line = text_.LineOf(caret_) + rows;
        goal = goal_ ? *goal_ : ColumnOf(caret_);
        to = line < 0                    ? 0
             : line >= text_.LineCount() ? text_.Length()
                                         : Nearest(line, static_cast<double>(*goal));
        if (page)
            firstLine_ = std::clamp<std::int64_t>(firstLine_ + rows, 0, lastLine_);
        break;
    }
    case Motion::LineStart:
        to = text_.LineStart(text_.LineOf(caret_));
        break;
    case Motion::LineEnd:
        to = text_.LineEnd(text_.LineOf(caret_));
        break;
    case Motion::TextStart:
        to = 0;
        break;
    case Motion::TextEnd:
        to = text_.Length();
        break;
    }
    Select(select ? anchor_ : to, to);
    goal_ = goal;
}

void TMemo::Type(std::string_view bytes)
{
    Edit(SelStart(), SelLength(), bytes, Run::Typing);
}

void TMemo::Erase(bool forward, bool word)
{
    if (anchor_ != caret_) {
        Edit(SelStart(), SelLength(), {}, Run::None);
    } else if (forward) {
        const std::int64_t to = word ? moves_.NextWord(caret_) : moves_.Next(caret_);
        Edit(caret_, to - caret_, {}, word ? Run::None : Run::ErasingForward);
    } else {
        const std::int64_t from = word ? moves_.PreviousWord(caret_) : moves_.Previous(caret_);
        Edit(from, caret_ - from, {}, word ? Run::None : Run::Erasing);
    }
}

std::string TMemo::LineBreak() const
{
    // The text's own: as its first line ends.
    if (text_.LineCount() < 2)
        return "\n";
    const std::int64_t end = text_.LineEnd(0);
    if (text_.LineStart(1) - end == 2)
        return "\r\n";
    return text_.At(end) == '\r' ? "\r" : "\n";
}

// ---- Input methods

void TMemo::inputMethodEvent(QInputMethodEvent* event)
{
    Guard([&] {
        const QByteArray commit = event->commitString().toUtf8();
        if (!commit.isEmpty())
            Type(std::string_view(commit.data(), static_cast<std::size_t>(commit.size())));
        preedit_ = event->preeditString();
        viewport()->update();
        event->accept();
    });
}

QVariant TMemo::inputMethodQuery(Qt::InputMethodQuery query) const
{
    QVariant answer;
    Guard([&] {
        // The caret's line about the caret, from a character's start.
        const std::int64_t line = text_.LineOf(caret_);
        std::int64_t from = std::max(text_.LineStart(line), caret_ - kAround);
        while (from < caret_ && (static_cast<unsigned char>(text_.At(from)) & 0xc0) == 0x80)
            ++from;
        const std::int64_t to = std::min(text_.LineEnd(line), caret_ + kAround);
        const auto text = [this](std::int64_t a, std::int64_t b) {
            const std::string bytes = text_.Text(a, b - a);
            return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        };
        const auto offset = [&](std::int64_t p) {
            return static_cast<int>(text(from, std::clamp(p, from, to)).size());
        };
        switch (query) {
        case Qt::ImEnabled:
            answer = true;
            break;
        case Qt::ImHints:
            answer = static_cast<int>(Qt::ImhMultiLine);
            break;
        case Qt::ImFont:
            answer = font();
            break;
        case Qt::ImCursorRectangle:
        case Qt::ImAnchorRectangle:
            answer = QRectF(RectAt(query == Qt::ImCursorRectangle ? caret_ : anchor_)
                                .translated(viewport()->pos()));
            break;
        case Qt::ImSurroundingText:
            answer = text(from, to);
            break;
        case Qt::ImTextBeforeCursor:
            answer = text(from, caret_);
            break;
        case Qt::ImTextAfterCursor:
            answer = text(caret_, to);
            break;
        case Qt::ImCursorPosition:
            answer = offset(caret_);
            break;
        case Qt::ImAnchorPosition:
            answer = offset(anchor_);
            break;
        case Qt::ImCurrentSelection:
            answer = text(SelStart(), std::min(SelEnd(), SelStart() + kAround));
            break;
        case Qt::ImAbsolutePosition:
            answer = Clamped(caret_);
            break;
        default:
            answer = QAbstractScrollArea::inputMethodQuery(query);
        }
    });
    return answer;
}

// ---- Focus and the mouse

void TMemo::focusInEvent(QFocusEvent* event)
{
    Guard([&] {
        ShowCaret();
        QAbstractScrollArea::focusInEvent(event);
    });
}

void TMemo::focusOutEvent(QFocusEvent* event)
{
    Guard([&] {
        blink_.stop();
        viewport()->update();
        QAbstractScrollArea::focusOutEvent(event);
    });
}

void TMemo::mousePressEvent(QMouseEvent* event)
{
    Guard([&] {
        EndRun();
        if (event->button() == Qt::MiddleButton) {
            PasteSelectionAt(event->position());
            return;
        }
        if (event->button() != Qt::LeftButton)
            return;
        const std::int64_t at = PositionAt(event->position());
        mouse_ = pressedAt_ = event->position();
        if (event->modifiers() & Qt::ShiftModifier) {
            Select(anchor_, at);
            selecting_ = true;
        } else if (anchor_ != caret_ && at >= SelStart() && at <= SelEnd()) {
            maybeDrag_ = true;
        } else {
            Select(at, at);
            selecting_ = true;
        }
    });
}

void TMemo::mouseMoveEvent(QMouseEvent* event)
{
    Guard([&] {
        mouse_ = event->position();
        if (maybeDrag_) {
            if ((mouse_ - pressedAt_).manhattanLength() >= QApplication::startDragDistance()) {
                maybeDrag_ = false;
                StartDrag();
            }
            return;
        }
        if (!selecting_ || !(event->buttons() & Qt::LeftButton))
            return;
        Select(anchor_, PositionAt(mouse_));
        // Past an edge the text scrolls on by itself while the mouse is still.
        if (viewport()->rect().contains(mouse_.toPoint()))
            autoScroll_.stop();
        else if (!autoScroll_.isActive())
            autoScroll_.start(50);
    });
}

void TMemo::mouseReleaseEvent(QMouseEvent* event)
{
    Guard([&] {
        autoScroll_.stop();
        selecting_ = false;
        if (maybeDrag_ && event->button() == Qt::LeftButton) {
            const std::int64_t at = PositionAt(event->position());
            Select(at, at);
        }
        maybeDrag_ = false;
    });
}

void TMemo::mouseDoubleClickEvent(QMouseEvent* event)
{
    Guard([&] {
        if (event->button() != Qt::LeftButton)
            return;
        const auto [first, last] = moves_.WordAt(PositionAt(event->position()));
        Select(first, last);
        selecting_ = maybeDrag_ = false;
    });
}

void TMemo::wheelEvent(QWheelEvent* event)
{
    Guard([&] {
        QPoint delta = event->angleDelta();
        if ((event->modifiers() & Qt::ShiftModifier) && delta.x() == 0)
            delta = {delta.y(), 0};
        const int lines = QApplication::wheelScrollLines();
        wheelLines_ += delta.y() * lines;
        wheelColumns_ += delta.x() * lines;
        firstLine_ = std::clamp<std::int64_t>(firstLine_ - wheelLines_ / 120, 0, lastLine_);
        firstColumn_ = std::clamp<std::int64_t>(firstColumn_ - wheelColumns_ / 120, 0, lastColumn_);
        wheelLines_ %= 120;
        wheelColumns_ %= 120;
        UpdateBars();
        viewport()->update();
        event->accept();
    });
}

void TMemo::contextMenuEvent(QContextMenuEvent* event)
{
    Guard([&] {
        EndRun();
        QMenu menu(this);
        const bool selected = anchor_ != caret_;
        const QMimeData* pasted = QApplication::clipboard()->mimeData();
        const struct
        {
            QString text;
            QKeySequence keys;
            bool enabled;
            void (TMemo::*act)();
        } items[] = {
            {tr("&Undo"), QKeySequence::Undo, CanUndo(), &TMemo::Undo},
            {tr("&Redo"), QKeySequence::Redo, CanRedo(), &TMemo::Redo},
            {tr("Cu&t"), QKeySequence::Cut, selected, &TMemo::CutToClipboard},
            {tr("&Copy"), QKeySequence::Copy, selected, &TMemo::CopyToClipboard},
            {tr("&Paste"), QKeySequence::Paste, pasted && pasted->hasText(),
             &TMemo::PasteFromClipboard},
            {tr("Delete"), {}, selected, &TMemo::ClearSelection},
            {tr("Select All"), QKeySequence::SelectAll, text_.Length() > 0, &TMemo::SelectAll},
        };
        for (const auto& item : items) {
            if (item.act == &TMemo::CutToClipboard || item.act == &TMemo::SelectAll)
                menu.addSeparator();
            QAction* action = menu.addAction(item.text);
            action->setShortcut(item.keys);
            action->setEnabled(item.enabled);
            connect(action, &QAction::triggered, this,
                    [this, act = item.act] { Guard([&] { (this->*act)(); }); });
        }
        menu.exec(event->globalPos());
    });
}

// ---- Drag and drop

void TMemo::StartDrag()
{
    auto* drag = new QDrag(this);
    dragged_ = new MemoMime(*this, text_, SelStart(), SelLength());
    drag->setMimeData(dragged_.data());
    // A move out of the text box takes the text away, unless the text has
    // changed since (a drop here has moved it already).
    if (drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction) == Qt::MoveAction && dragged_ &&
        dragged_->Source() == this)
        Edit(dragged_->Position(), dragged_->Length(), {}, Run::None);
}

void TMemo::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void TMemo::dragMoveEvent(QDragMoveEvent* event)
{
    Guard([&] {
        if (!event->mimeData()->hasText())
            return event->ignore();
        dropAt_ = PositionAt(event->position());
        event->acceptProposedAction();
        viewport()->update();
    });
}

void TMemo::dragLeaveEvent(QDragLeaveEvent*)
{
    Guard([this] {
        dropAt_.reset();
        viewport()->update();
    });
}

void TMemo::dropEvent(QDropEvent* event)
{
    Guard([&] {
        dropAt_.reset();
        EndRun();
        const std::int64_t at = PositionAt(event->position());
        const auto* own = qobject_cast<const MemoMime*>(event->mimeData());
        if (!own || own->Source() != this) {
            const std::string bytes = BytesOf(*event->mimeData());
            event->acceptProposedAction();
            Edit(at, 0, bytes, Run::None);
            Select(at, caret_);
            return;
        }
        // Out of this text box and into it: moved here, as one step, or with
        // Ctrl copied; the drag itself then moves nothing away.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        const std::int64_t from = own->Position();
        const std::int64_t length = own->Length();
        const bool copy = event->modifiers() & Qt::ControlModifier;
        if (!copy && at >= from && at <= from + length)
            return;
        const std::string bytes = text_.Text(from, length);
        BeforeChange();
        {
            const Raise editing(editing_);
            text_.Replace(at, 0, bytes);
            if (!copy)
                text_.Replace(at < from ? from + length : from, length, {}, true);
        }
        const std::int64_t start = !copy && at > from ? at - length : at;
        Select(start, start + length);
    });
}

// ---- Scrolling and drawing

void TMemo::resizeEvent(QResizeEvent* event)
{
    Guard([&] {
        QAbstractScrollArea::resizeEvent(event);
        UpdateBars();
    });
}

void TMemo::changeEvent(QEvent* event)
{
    Guard([&] {
        if (event->type() == QEvent::FontChange) {
            Restyle();
            UpdateBars();
        }
        QAbstractScrollArea::changeEvent(event);
    });
}

void TMemo::Restyle()
{
    style_.font = font();
    const QFontMetrics metrics(font());
    style_.cell = QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0'));
    style_.height = std::max(1, metrics.lineSpacing());
    style_.ascent = metrics.ascent();
    style_.small = font();
    style_.small.setPixelSize(std::max(6, (style_.height - 3) / 2));
    style_.pictures = metrics.inFontUcs4(0x2400) && metrics.inFontUcs4(0x2421);
    viewport()->update();
}

void TMemo::UpdateBars()
{
    const Raise syncing(syncing_);
    lastLine_ = std::max<std::int64_t>(0, text_.LineCount() - Rows());
    lastColumn_ = std::max<std::int64_t>(0, widest_ + 1 - Columns());
    firstLine_ = std::clamp<std::int64_t>(firstLine_, 0, lastLine_);
    firstColumn_ = std::clamp<std::int64_t>(firstColumn_, 0, lastColumn_);
    SetBar(*verticalScrollBar(), firstLine_, lastLine_, Rows());
    SetBar(*horizontalScrollBar(), firstColumn_, lastColumn_, Columns());
}

void TMemo::scrollContentsBy(int, int)
{
    if (syncing_)
        return;
    Guard([this] {
        firstLine_ = FromBar(verticalScrollBar()->value(), lastLine_);
        firstColumn_ = FromBar(horizontalScrollBar()->value(), lastColumn_);
        viewport()->update();
    });
}

void TMemo::paintEvent(QPaintEvent*)
{
    Guard([this] { Paint(); }, true);
}

void TMemo::Paint()
{
    QPainter painter(viewport());
    painter.setFont(style_.font);
    const QPalette& colours = palette();
    style_.text = colours.color(QPalette::Text);
    style_.marks = colours.color(QPalette::Text);
    style_.marks.setAlpha(160);
    style_.selection = colours.color(QPalette::Highlight);
    style_.selected = colours.color(QPalette::HighlightedText);

    const std::int64_t columns = Columns() + 1;
    const std::int64_t rows = viewport()->height() / style_.height + 1;
    const std::int64_t selFrom = SelStart();
    const std::int64_t selTo = SelEnd();
    const bool caret = (hasFocus() && caretShown_) || !preedit_.isEmpty();
    std::int64_t widest = widest_;
    LineReader reader(text_, firstLine_);
    LineReader::Line line{};
    for (std::int64_t row = 0; row < rows && reader.Next(line); ++row) {
        const int top = static_cast<int>(row) * style_.height;
        const LineColumns::Line spans{firstLine_ + row, line.position, line.length};
        const std::int64_t end = line.position + line.length;
        // Only what shows: from the cell at the left edge, enough bytes for
        // the columns across, at most four bytes a cell.
        const LineColumns::Spot left = columns_.Under(spans, firstColumn_);
        const std::int64_t size = std::min(end - left.position, 4 * (columns + 2));
        std::string read;
        std::string_view bytes;
        if (line.whole)
            bytes = line.bytes.substr(static_cast<std::size_t>(left.position - line.position),
                                      static_cast<std::size_t>(size));
        else
            bytes = read = text_.Text(left.position, size);
        layout_.Lay(bytes, left.position, left.column, firstColumn_ + columns,
                    left.position + size == end);
        layout_.Draw(painter, style_, kMargin, firstColumn_, top, selFrom, selTo,
                     selFrom <= end && selTo > end);
        // The scroll range grows with the lines seen: a short line's columns,
        // a long one's bytes.
        widest =
            std::max(widest, line.length <= 4096 ? columns_.At(spans, end).column : line.length);
        const auto mark = [&](std::int64_t position, const QString& preedit) {
            const auto column = layout_.ColumnOf(position);
            if (position < line.position || position > end || !column)
                return;
            const double x = kMargin + static_cast<double>(*column - firstColumn_) * style_.cell;
            if (!preedit.isEmpty()) {
                const QRectF box(x, top, style_.cell * static_cast<double>(preedit.size()),
                                 style_.height);
                painter.fillRect(box, colours.color(QPalette::Base));
                painter.setPen(style_.text);
                painter.drawText(QPointF(x, top + style_.ascent), preedit);
                painter.drawLine(QLineF(box.bottomLeft(), box.bottomRight()).translated(0, -1));
            }
            painter.fillRect(QRectF(x, top, 1, style_.height), style_.text);
        };
        if (caret)
            mark(caret_, preedit_);
        if (dropAt_)
            mark(*dropAt_, {});
    }
    if (widest != widest_) {
        widest_ = widest;
        UpdateBars();
    }
}
