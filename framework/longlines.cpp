// Lines too long to lay out. Scintilla lays a line out whole for every paint
// that shows it and every caret move into it, about half a microsecond a byte
// through Qt's text layout: 47 s for a line of 100 MB. Such lines stay in the
// text byte for byte but out of view: hidden, with a note under the line
// before; a first line, which Scintilla never hides, scrolled out; and the
// caret and the pointer kept from them.
#include "controls.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

using S = QsciScintillaBase;

unsigned long At(long value)
{
    return static_cast<unsigned long>(value);
}

long Ask(const TMemo& memo, unsigned int message, long w = 0)
{
    return memo.SendScintilla(message, At(w));
}

long LineBytes(const TMemo& memo, int line)
{
    return Ask(memo, S::SCI_GETLINEENDPOSITION, line) - Ask(memo, S::SCI_POSITIONFROMLINE, line);
}

int LineCount(const TMemo& memo)
{
    return static_cast<int>(Ask(memo, S::SCI_GETLINECOUNT));
}

int LineOf(const TMemo& memo, long position)
{
    return static_cast<int>(Ask(memo, S::SCI_LINEFROMPOSITION, position));
}

std::string NoteFor(long bytes)
{
    return "A line of " + std::to_string(bytes) + " bytes is not shown: it is too long to lay out.";
}

} // namespace

bool TMemo::LineShown(int line) const
{
    return LineBytes(*this, line) <= LongestShownLine;
}

int TMemo::FirstShownLine() const
{
    const int count = LineCount(*this);
    int line = 0;
    while (line + 1 < count && !LineShown(line))
        ++line;
    return line;
}

int TMemo::LastShownLine() const
{
    int line = LineCount(*this) - 1;
    while (line > 0 && !LineShown(line))
        --line;
    return line;
}

bool TMemo::NoLineShown() const
{
    return !LineShown(FirstShownLine());
}

void TMemo::HideLongLines(const std::vector<long>& marks)
{
    int previous = -1;
    for (const long mark : marks) {
        const int line = LineOf(*this, mark);
        if (line != previous && !LineShown(line)) {
            SendScintilla(SCI_HIDELINES, At(line), line);
            NoteHiddenLines(line - 1, line + 1);
        }
        previous = line;
    }
    KeepFirstLineOut();
}

void TMemo::CheckLines(int first, int last)
{
    first = std::max(first, 0);
    last = std::min(last, LineCount(*this) - 1);
    for (int line = first; line <= last; ++line) {
        const bool shown = LineShown(line);
        if (shown != (Ask(*this, SCI_GETLINEVISIBLE, line) != 0))
            SendScintilla(shown ? SCI_SHOWLINES : SCI_HIDELINES, At(line), line);
    }
    NoteHiddenLines(first - 1, last + 1);
    KeepFirstLineOut();
}

// Scintilla never hides the first line; a long one is kept scrolled out.
void TMemo::KeepFirstLineOut()
{
    const bool out = !LineShown(0) && !NoLineShown();
    SendScintilla(SCI_SETENDATLASTLINE, out ? 0UL : 1UL);
    if (out && SendScintilla(SCI_GETFIRSTVISIBLELINE) == 0)
        SendScintilla(SCI_SETFIRSTVISIBLELINE, 1UL);
}

std::string TMemo::NoteUnder(int line) const
{
    const auto length =
        SendScintilla(SCI_ANNOTATIONGETTEXT, At(line), static_cast<const char*>(nullptr));
    std::string note(static_cast<std::size_t>(std::max(length, 0L)), '\0');
    if (length > 0)
        SendScintilla(SCI_ANNOTATIONGETTEXT, At(line), note.data());
    return note;
}

// A hidden line is noted under the shown line before it, or, at the top of
// the text, under the first shown line.
void TMemo::NoteHiddenLines(int first, int last)
{
    const int count = LineCount(*this);
    first = std::max(first, 0);
    while (first > 0 && !LineShown(first))
        --first;
    last = std::min(last, count - 1);
    for (int line = first; line <= last; ++line) {
        if (!LineShown(line))
            continue;
        std::string note;
        const auto add = [this, &note](int hidden) {
            if (!note.empty())
                note += '\n';
            note += NoteFor(LineBytes(*this, hidden));
        };
        int before = line;
        while (before > 0 && !LineShown(before - 1))
            --before;
        if (before == 0)
            for (int hidden = 0; hidden < line; ++hidden)
                add(hidden);
        for (int hidden = line + 1; hidden < count && !LineShown(hidden); ++hidden)
            add(hidden);
        if (note != NoteUnder(line))
            SendScintilla(SCI_ANNOTATIONSETTEXT, At(line), note.empty() ? nullptr : note.c_str());
    }
}

void TMemo::paintEvent(QPaintEvent* event)
{
    if (!LineShown(0)) {
        if (NoLineShown()) {
            // Nothing to show but the notes.
            std::string notes;
            const int count = std::min(LineCount(*this), 100);
            for (int line = 0; line < count; ++line) {
                if (line > 0)
                    notes += '\n';
                notes += NoteFor(LineBytes(*this, line));
            }
            QPainter painter(viewport());
            painter.fillRect(viewport()->rect(), palette().base());
            painter.drawText(viewport()->rect().adjusted(4, 4, -4, -4),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                             QString::fromStdString(notes));
            return;
        }
        KeepFirstLineOut(); // scrolling may have brought it back
    }
    QsciScintilla::paintEvent(event);
}

QVariant TMemo::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // Input methods ask for the caret's line and where the caret is, which
    // for a long line means converting or laying out all of it.
    if (query != Qt::ImEnabled && query != Qt::ImHints &&
        !LineShown(LineOf(*this, SendScintilla(SCI_GETCURRENTPOS))))
        return {};
    return QsciScintilla::inputMethodQuery(query);
}

namespace {

// Scintilla puts the caret under the pointer, laying that line out; below the
// last row it takes the end of the text, which may be a long last line. The
// pointer is kept to the rows of shown lines; nothing is handed on when no
// line is shown.
class PointerOnShownRows
{
public:
    PointerOnShownRows(const TMemo& memo, QMouseEvent* event) : event_(event)
    {
        const int count = LineCount(memo);
        if (memo.LineShown(0) && memo.LineShown(count - 1))
            return;
        if (memo.NoLineShown()) {
            event_ = nullptr;
            return;
        }
        const double height = static_cast<double>(Ask(memo, S::SCI_TEXTHEIGHT, 0));
        const long top = Ask(memo, S::SCI_GETFIRSTVISIBLELINE);
        const auto rowY = [&](int line) {
            return static_cast<double>(Ask(memo, S::SCI_VISIBLEFROMDOCLINE, line) - top) * height;
        };
        const double low =
            memo.LineShown(0) ? -std::numeric_limits<double>::max() : rowY(memo.FirstShownLine());
        const double high = memo.LineShown(count - 1) ? std::numeric_limits<double>::max()
                                                      : rowY(memo.LastShownLine()) + height - 1;
        const QPointF at = event->position();
        const double y = std::clamp(at.y(), low, high);
        if (y == at.y())
            return;
        moved_.emplace(event->type(), QPointF(at.x(), y),
                       event->globalPosition() + QPointF(0, y - at.y()), event->button(),
                       event->buttons(), event->modifiers(), event->pointingDevice());
        event_ = &*moved_;
    }

    QMouseEvent* Event() const { return event_; }

private:
    QMouseEvent* event_;
    std::optional<QMouseEvent> moved_;
};

} // namespace

void TMemo::mousePressEvent(QMouseEvent* event)
{
    const PointerOnShownRows pointer(*this, event);
    if (pointer.Event())
        QsciScintilla::mousePressEvent(pointer.Event());
}

void TMemo::mouseMoveEvent(QMouseEvent* event)
{
    const PointerOnShownRows pointer(*this, event);
    if (pointer.Event())
        QsciScintilla::mouseMoveEvent(pointer.Event());
}

void TMemo::mouseReleaseEvent(QMouseEvent* event)
{
    const PointerOnShownRows pointer(*this, event);
    if (pointer.Event())
        QsciScintilla::mouseReleaseEvent(pointer.Event());
}

void TMemo::mouseDoubleClickEvent(QMouseEvent* event)
{
    const PointerOnShownRows pointer(*this, event);
    if (pointer.Event())
        QsciScintilla::mouseDoubleClickEvent(pointer.Event());
}

void TMemo::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) &&
        SelectHiddenLines(key == Qt::Key_Backspace))
        return;
    if (KeepCaretOut(*event))
        return;
    if (event->matches(QKeySequence::Paste)) {
        paste();
        return;
    }
    QsciScintilla::keyPressEvent(event);
}

// Keys that would take the caret into a long first or last line, which
// Scintilla does not pass over as it does hidden lines: refused, or sent to
// the nearest shown place. With no line shown, the text can only be selected
// whole and deleted.
bool TMemo::KeepCaretOut(const QKeyEvent& event)
{
    const int count = LineCount(*this);
    const bool firstOut = !LineShown(0);
    const bool lastOut = !LineShown(count - 1);
    if (!firstOut && !lastOut)
        return false;
    const int key = event.key();
    const bool control = (event.modifiers() & Qt::ControlModifier) != 0;
    if (NoLineShown()) {
        if (event.matches(QKeySequence::SelectAll)) {
            SendScintilla(SCI_SELECTALL);
            return true;
        }
        const bool deletion = key == Qt::Key_Backspace || key == Qt::Key_Delete;
        return !(deletion && SendScintilla(SCI_GETSELECTIONEMPTY) == 0);
    }
    const int first = FirstShownLine();
    const int last = LastShownLine();
    const long start = Ask(*this, SCI_POSITIONFROMLINE, first);
    const long end = Ask(*this, SCI_GETLINEENDPOSITION, last);
    const long caret = SendScintilla(SCI_GETCURRENTPOS);
    const int line = LineOf(*this, caret);
    const long row = Ask(*this, SCI_VISIBLEFROMDOCLINE, line);
    const long page = SendScintilla(SCI_LINESONSCREEN);
    const bool extend = (event.modifiers() & Qt::ShiftModifier) != 0;
    const auto moveTo = [this, extend](long target) {
        SendScintilla(SCI_SETSEL, At(extend ? SendScintilla(SCI_GETANCHOR) : target), target);
        return true;
    };
    // The nearest shown place: a long line's neighbour on the side of the
    // shown lines.
    const auto shown = [&](long position) {
        int at = LineOf(*this, position);
        if (LineShown(at))
            return position;
        if (at < first)
            return start;
        if (at > last)
            return end;
        while (!LineShown(at))
            ++at;
        return Ask(*this, SCI_POSITIONFROMLINE, at);
    };
    if (event.matches(QKeySequence::SelectAll)) {
        // Without showing the caret, which is at the start.
        SendScintilla(SCI_SETANCHOR, At(SendScintilla(SCI_GETLENGTH)));
        SendScintilla(SCI_SETCURRENTPOS, 0UL);
        return true;
    }
    const bool moving = key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left ||
                        key == Qt::Key_Right || key == Qt::Key_PageUp || key == Qt::Key_PageDown ||
                        key == Qt::Key_Home || key == Qt::Key_End;
    // After selecting all, or editing a line until it grew too long.
    if (moving && !LineShown(line))
        return moveTo(shown(caret));
    if (!extend && SendScintilla(SCI_GETSELECTIONEMPTY) == 0 &&
        (key == Qt::Key_Left || key == Qt::Key_Right)) {
        // The selection gives way to the caret at its start or end.
        const long target =
            SendScintilla(key == Qt::Key_Left ? SCI_GETSELECTIONSTART : SCI_GETSELECTIONEND);
        if (!LineShown(LineOf(*this, target)))
            return moveTo(shown(target));
    }
    switch (key) {
    case Qt::Key_Home:
        return control && firstOut && moveTo(start);
    case Qt::Key_End:
        return control && lastOut && moveTo(end);
    case Qt::Key_Up:
        return firstOut && line == first;
    case Qt::Key_Down:
        return lastOut && line == last;
    case Qt::Key_PageUp:
        return firstOut && row - page < Ask(*this, SCI_VISIBLEFROMDOCLINE, first) && moveTo(start);
    case Qt::Key_PageDown:
        return lastOut && row + page > Ask(*this, SCI_VISIBLEFROMDOCLINE, last) && moveTo(end);
    case Qt::Key_Left:
        return firstOut && caret == start;
    case Qt::Key_Right:
        // A word to the right may begin beyond the line's end.
        return lastOut && line == last && (caret == end || (control && moveTo(end)));
    case Qt::Key_BracketLeft: // paragraphs
        return control && firstOut;
    case Qt::Key_BracketRight:
        return control && lastOut;
    default:
        break;
    }
    return false;
}

// Backspace at the start of a line after hidden lines, or Delete at the end
// of one before them, would join a hidden line and bring the caret into it.
// The hidden lines are selected instead, so that the next key deletes them
// whole.
bool TMemo::SelectHiddenLines(bool backwards)
{
    if (SendScintilla(SCI_GETSELECTIONEMPTY) == 0)
        return false;
    const long caret = SendScintilla(SCI_GETCURRENTPOS);
    const int line = LineOf(*this, caret);
    if (backwards) {
        if (line == 0 || caret != Ask(*this, SCI_POSITIONFROMLINE, line) || LineShown(line - 1))
            return false;
        int first = line - 1;
        while (first > 0 && !LineShown(first - 1))
            --first;
        SendScintilla(SCI_SETSEL, At(Ask(*this, SCI_POSITIONFROMLINE, first)), caret);
    } else {
        const int count = LineCount(*this);
        if (line + 1 >= count || caret != Ask(*this, SCI_GETLINEENDPOSITION, line) ||
            LineShown(line + 1))
            return false;
        int last = line + 1;
        while (last + 1 < count && !LineShown(last + 1))
            ++last;
        SendScintilla(SCI_SETSEL, At(Ask(*this, SCI_GETLINEENDPOSITION, last)), caret);
    }
    return true;
}

void TMemo::paste()
{
    if (!PasteLongText())
        QsciScintilla::paste();
}

// Scintilla's paste shows the caret at the end of the text pasted, laying its
// line out, however long. Long text is pasted here instead: its long lines
// are hidden before the caret is shown, outside them.
bool TMemo::PasteLongText()
{
    bool rectangular = false;
    const QByteArray bytes = fromMimeData(QApplication::clipboard()->mimeData(), rectangular);
    if (rectangular || bytes.size() <= LongestShownLine ||
        SendScintilla(SCI_SELECTIONISRECTANGLE) != 0 || SendScintilla(SCI_GETSELECTIONS) > 1)
        return false;
    SendScintilla(SCI_BEGINUNDOACTION);
    const long start = SendScintilla(SCI_GETSELECTIONSTART);
    SendScintilla(SCI_DELETERANGE, At(start), SendScintilla(SCI_GETSELECTIONEND) - start);
    // Moves the caret to the end of the text without showing it.
    SendScintilla(SCI_ADDTEXT, At(bytes.size()), bytes.constData());
    int line = LineOf(*this, SendScintilla(SCI_GETCURRENTPOS));
    CheckLines(LineOf(*this, start) - 1, line + 1);
    if (!LineShown(line)) {
        const int count = LineCount(*this);
        while (line + 1 < count && !LineShown(line))
            ++line;
        while (line > 0 && !LineShown(line))
            --line;
        SendScintilla(SCI_SETEMPTYSELECTION, At(Ask(*this, SCI_POSITIONFROMLINE, line)));
    }
    if (LineShown(line))
        SendScintilla(SCI_SCROLLCARET);
    SendScintilla(SCI_ENDUNDOACTION);
    return true;
}
