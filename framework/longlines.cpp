#include "longlines.h"

#include "scintilla.h"

#include <QCoreApplication>
#include <QInputMethodQueryEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

using S = QsciScintillaBase;

unsigned long At(long value)
{
    return static_cast<unsigned long>(value);
}

std::string NoteFor(long bytes)
{
    return "A line of " + std::to_string(bytes) + " bytes is not shown: it is too long to lay out.";
}

} // namespace

LongLines::LongLines(QsciScintilla& editor, std::function<void()> settle)
    : QObject(&editor), editor_(editor), viewport_(editor.viewport()), settle_(std::move(settle))
{
    Send(editor_, S::SCI_ANNOTATIONSETVISIBLE, S::ANNOTATION_STANDARD);
    editor_.installEventFilter(this);
    viewport_->installEventFilter(this);
}

long LongLines::LineBytes(int line) const
{
    return Send(editor_, S::SCI_GETLINEENDPOSITION, line) -
           Send(editor_, S::SCI_POSITIONFROMLINE, line);
}

int LongLines::LineCount() const
{
    return static_cast<int>(Send(editor_, S::SCI_GETLINECOUNT));
}

int LongLines::LineOf(long position) const
{
    return static_cast<int>(Send(editor_, S::SCI_LINEFROMPOSITION, position));
}

bool LongLines::LineShown(int line) const
{
    return LineBytes(line) <= kLongest;
}

int LongLines::FirstShownLine() const
{
    const int count = LineCount();
    int line = 0;
    while (line + 1 < count && !LineShown(line))
        ++line;
    return line;
}

int LongLines::LastShownLine() const
{
    int line = LineCount() - 1;
    while (line > 0 && !LineShown(line))
        --line;
    return line;
}

bool LongLines::NoLineShown() const
{
    return !LineShown(FirstShownLine());
}

// Marks every half of the longest shown line within each run of bytes
// without LF, so that any longer line, CR breaks included, holds a mark.
// Each window is searched from its end, which in ordinary text finds an LF
// at once: a whole text costs a few thousand searches.
void LongLines::Marker::Take(std::string_view piece)
{
    constexpr long half = kLongest / 2;
    std::size_t at = 0;
    while (at < piece.size()) {
        const std::size_t window = std::min<std::size_t>(half, piece.size() - at);
        const auto* found = static_cast<const char*>(::memrchr(piece.data() + at, '\n', window));
        const std::size_t end =
            found ? static_cast<std::size_t>(found - piece.data()) : at + window;
        for (; next_ < position_ + static_cast<long>(end); next_ += half)
            marks_.push_back(next_);
        if (found)
            next_ = position_ + static_cast<long>(end) + 1 + half;
        at = found ? end + 1 : end;
    }
    position_ += static_cast<long>(piece.size());
}

void LongLines::NewText(const std::vector<long>& marks)
{
    int previous = -1;
    for (const long mark : marks) {
        const int line = LineOf(mark);
        if (line != previous && !LineShown(line)) {
            Send(editor_, S::SCI_HIDELINES, line, line);
            NoteHiddenLines(line - 1, line + 1);
        }
        previous = line;
    }
    KeepFirstLineOut();
    // Going to a line lays it out: the caret goes to the first shown one.
    if (NoLineShown())
        Send(editor_, S::SCI_SETEMPTYSELECTION);
    else
        Send(editor_, S::SCI_GOTOLINE, FirstShownLine());
}

void LongLines::Changing()
{
    // Looked at once the change is made, before the next paint (queued calls
    // come before Qt's paint requests).
    if (checkQueued_)
        return;
    checkQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            checkQueued_ = false;
            settle_();
            if (std::exchange(checkAny_, false))
                CheckLines(checkFirst_, checkLast_);
        },
        Qt::QueuedConnection);
}

void LongLines::Changed(const LinesChange& change)
{
    // Line numbers move with later edits, so the range grows rather than shifts.
    const int last = change.first + change.added;
    if (!std::exchange(checkAny_, true)) {
        checkFirst_ = change.first - 1;
        checkLast_ = last;
        return;
    }
    checkFirst_ = std::min(checkFirst_, change.first - 1);
    checkLast_ = std::max(checkLast_ + std::max(0, change.added - change.removed), last);
}

void LongLines::CheckLines(int first, int last)
{
    first = std::max(first, 0);
    last = std::min(last, LineCount() - 1);
    for (int line = first; line <= last; ++line) {
        const bool shown = LineShown(line);
        if (shown != (Send(editor_, S::SCI_GETLINEVISIBLE, line) != 0))
            Send(editor_, shown ? S::SCI_SHOWLINES : S::SCI_HIDELINES, line, line);
    }
    NoteHiddenLines(first - 1, last + 1);
    KeepFirstLineOut();
}

// Scintilla never hides the first line; a long one is kept scrolled out.
void LongLines::KeepFirstLineOut()
{
    const bool out = !LineShown(0) && !NoLineShown();
    Send(editor_, S::SCI_SETENDATLASTLINE, out ? 0 : 1);
    if (out && Send(editor_, S::SCI_GETFIRSTVISIBLELINE) == 0)
        Send(editor_, S::SCI_SETFIRSTVISIBLELINE, 1);
}

// A hidden line is noted under the shown line before it, or, at the top of
// the text, under the first shown line.
void LongLines::NoteHiddenLines(int first, int last)
{
    const int count = LineCount();
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
            note += NoteFor(LineBytes(hidden));
        };
        int before = line;
        while (before > 0 && !LineShown(before - 1))
            --before;
        if (before == 0)
            for (int hidden = 0; hidden < line; ++hidden)
                add(hidden);
        for (int hidden = line + 1; hidden < count && !LineShown(hidden); ++hidden)
            add(hidden);
        const long length = editor_.SendScintilla(S::SCI_ANNOTATIONGETTEXT, At(line),
                                                  static_cast<const char*>(nullptr));
        std::string old(static_cast<std::size_t>(std::max(length, 0L)), '\0');
        if (length > 0)
            editor_.SendScintilla(S::SCI_ANNOTATIONGETTEXT, At(line), old.data());
        if (note != old)
            editor_.SendScintilla(S::SCI_ANNOTATIONSETTEXT, At(line),
                                  note.empty() ? nullptr : note.c_str());
    }
}

bool LongLines::eventFilter(QObject* watched, QEvent* event)
{
    // Compared, not asked: the editor's parts are also watched while it goes.
    if (watched == viewport_) {
        switch (event->type()) {
        case QEvent::Paint:
            return PaintNotesOnly();
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
            return KeepPointerOnShownRows(event);
        default:
            return false;
        }
    }
    if (event->type() == QEvent::InputMethodQuery)
        return AnswerInputMethod(event);
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if ((key.key() == Qt::Key_Backspace || key.key() == Qt::Key_Delete) &&
        SelectHiddenLines(key.key() == Qt::Key_Backspace))
        return true;
    if (KeepCaretOut(key))
        return true;
    if (key.matches(QKeySequence::Paste)) {
        // Scintilla's own paste would bypass the editor's, which hides long lines.
        editor_.paste();
        return true;
    }
    return false;
}

bool LongLines::PaintNotesOnly()
{
    if (LineShown(0))
        return false;
    if (!NoLineShown()) {
        KeepFirstLineOut(); // scrolling may have brought it back
        return false;
    }
    std::string notes;
    const int count = std::min(LineCount(), 100);
    for (int line = 0; line < count; ++line) {
        if (line > 0)
            notes += '\n';
        notes += NoteFor(LineBytes(line));
    }
    QPainter painter(viewport_);
    painter.fillRect(viewport_->rect(), editor_.palette().base());
    painter.drawText(viewport_->rect().adjusted(4, 4, -4, -4),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     QString::fromStdString(notes));
    return true;
}

// Scintilla puts the caret under the pointer, laying that line out; below the
// last row it takes the end of the text, which may be a long last line. The
// pointer is kept to the rows of shown lines; nothing is handed on when no
// line is shown.
bool LongLines::KeepPointerOnShownRows(QEvent* event)
{
    const int count = LineCount();
    if (LineShown(0) && LineShown(count - 1))
        return false;
    if (NoLineShown())
        return true;
    const auto& mouse = static_cast<const QMouseEvent&>(*event);
    const double height = static_cast<double>(Send(editor_, S::SCI_TEXTHEIGHT, 0));
    const long top = Send(editor_, S::SCI_GETFIRSTVISIBLELINE);
    const auto rowY = [&](int line) {
        return static_cast<double>(Send(editor_, S::SCI_VISIBLEFROMDOCLINE, line) - top) * height;
    };
    const double low = LineShown(0) ? -std::numeric_limits<double>::max() : rowY(FirstShownLine());
    const double high = LineShown(count - 1) ? std::numeric_limits<double>::max()
                                             : rowY(LastShownLine()) + height - 1;
    const QPointF at = mouse.position();
    const double y = std::clamp(at.y(), low, high);
    if (y == at.y())
        return false;
    // Handed on moved, it comes back here within bounds and passes.
    QMouseEvent moved(mouse.type(), QPointF(at.x(), y),
                      mouse.globalPosition() + QPointF(0, y - at.y()), mouse.button(),
                      mouse.buttons(), mouse.modifiers(), mouse.pointingDevice());
    QCoreApplication::sendEvent(viewport_, &moved);
    return true;
}

// Input methods ask for the caret's line and where the caret is, which for a
// long line means converting or laying out all of it.
bool LongLines::AnswerInputMethod(QEvent* event)
{
    if (LineShown(LineOf(Send(editor_, S::SCI_GETCURRENTPOS))))
        return false;
    auto& query = static_cast<QInputMethodQueryEvent&>(*event);
    for (int bit = 0; bit < 32; ++bit) {
        const auto asked = static_cast<Qt::InputMethodQuery>(1u << bit);
        if (!(query.queries() & asked))
            continue;
        if (asked == Qt::ImEnabled)
            query.setValue(asked, true);
        else if (asked == Qt::ImHints)
            query.setValue(asked, static_cast<int>(editor_.inputMethodHints()));
        else
            query.setValue(asked, QVariant());
    }
    return true;
}

// Keys that would take the caret into a long first or last line, which
// Scintilla does not pass over as it does hidden lines: refused, or sent to
// the nearest shown place. With no line shown, the text can only be selected
// whole and deleted.
bool LongLines::KeepCaretOut(const QKeyEvent& event)
{
    const int count = LineCount();
    const bool firstOut = !LineShown(0);
    const bool lastOut = !LineShown(count - 1);
    if (!firstOut && !lastOut)
        return false;
    const int key = event.key();
    const bool control = (event.modifiers() & Qt::ControlModifier) != 0;
    if (NoLineShown()) {
        if (event.matches(QKeySequence::SelectAll)) {
            Send(editor_, S::SCI_SELECTALL);
            return true;
        }
        const bool deletion = key == Qt::Key_Backspace || key == Qt::Key_Delete;
        return !(deletion && Send(editor_, S::SCI_GETSELECTIONEMPTY) == 0);
    }
    const int first = FirstShownLine();
    const int last = LastShownLine();
    const long start = Send(editor_, S::SCI_POSITIONFROMLINE, first);
    const long end = Send(editor_, S::SCI_GETLINEENDPOSITION, last);
    const long caret = Send(editor_, S::SCI_GETCURRENTPOS);
    const int line = LineOf(caret);
    const long row = Send(editor_, S::SCI_VISIBLEFROMDOCLINE, line);
    const long page = Send(editor_, S::SCI_LINESONSCREEN);
    const bool extend = (event.modifiers() & Qt::ShiftModifier) != 0;
    const auto moveTo = [this, extend](long target) {
        Send(editor_, S::SCI_SETSEL, extend ? Send(editor_, S::SCI_GETANCHOR) : target, target);
        return true;
    };
    // The nearest shown place: a long line's neighbour on the side of the
    // shown lines.
    const auto shown = [&](long position) {
        int at = LineOf(position);
        if (LineShown(at))
            return position;
        if (at < first)
            return start;
        if (at > last)
            return end;
        while (!LineShown(at))
            ++at;
        return Send(editor_, S::SCI_POSITIONFROMLINE, at);
    };
    if (event.matches(QKeySequence::SelectAll)) {
        // Without showing the caret, which is at the start.
        Send(editor_, S::SCI_SETANCHOR, Send(editor_, S::SCI_GETLENGTH));
        Send(editor_, S::SCI_SETCURRENTPOS);
        return true;
    }
    const bool moving = key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left ||
                        key == Qt::Key_Right || key == Qt::Key_PageUp || key == Qt::Key_PageDown ||
                        key == Qt::Key_Home || key == Qt::Key_End;
    // After selecting all, or editing a line until it grew too long.
    if (moving && !LineShown(line))
        return moveTo(shown(caret));
    if (!extend && Send(editor_, S::SCI_GETSELECTIONEMPTY) == 0 &&
        (key == Qt::Key_Left || key == Qt::Key_Right)) {
        // The selection gives way to the caret at its start or end.
        const long target =
            Send(editor_, key == Qt::Key_Left ? S::SCI_GETSELECTIONSTART : S::SCI_GETSELECTIONEND);
        if (!LineShown(LineOf(target)))
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
        return firstOut && row - page < Send(editor_, S::SCI_VISIBLEFROMDOCLINE, first) &&
               moveTo(start);
    case Qt::Key_PageDown:
        return lastOut && row + page > Send(editor_, S::SCI_VISIBLEFROMDOCLINE, last) &&
               moveTo(end);
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
        return false;
    }
}

// Backspace at the start of a line after hidden lines, or Delete at the end
// of one before them, would join a hidden line and bring the caret into it.
// The hidden lines are selected instead, so that the next key deletes them
// whole.
bool LongLines::SelectHiddenLines(bool backwards)
{
    if (Send(editor_, S::SCI_GETSELECTIONEMPTY) == 0)
        return false;
    const long caret = Send(editor_, S::SCI_GETCURRENTPOS);
    const int line = LineOf(caret);
    if (backwards) {
        if (line == 0 || caret != Send(editor_, S::SCI_POSITIONFROMLINE, line) ||
            LineShown(line - 1))
            return false;
        int first = line - 1;
        while (first > 0 && !LineShown(first - 1))
            --first;
        Send(editor_, S::SCI_SETSEL, Send(editor_, S::SCI_POSITIONFROMLINE, first), caret);
    } else {
        const int count = LineCount();
        if (line + 1 >= count || caret != Send(editor_, S::SCI_GETLINEENDPOSITION, line) ||
            LineShown(line + 1))
            return false;
        int last = line + 1;
        while (last + 1 < count && !LineShown(last + 1))
            ++last;
        Send(editor_, S::SCI_SETSEL, Send(editor_, S::SCI_GETLINEENDPOSITION, last), caret);
    }
    return true;
}

// Scintilla's paste shows the caret at the end of the text pasted, laying its
// line out, however long.
bool LongLines::Paste(const QByteArray& bytes, bool rectangular)
{
    if (rectangular || bytes.size() <= kLongest ||
        Send(editor_, S::SCI_SELECTIONISRECTANGLE) != 0 || Send(editor_, S::SCI_GETSELECTIONS) > 1)
        return false;
    Send(editor_, S::SCI_BEGINUNDOACTION);
    const long start = Send(editor_, S::SCI_GETSELECTIONSTART);
    Send(editor_, S::SCI_DELETERANGE, start, Send(editor_, S::SCI_GETSELECTIONEND) - start);
    // Moves the caret to the end of the text without showing it.
    editor_.SendScintilla(S::SCI_ADDTEXT, At(bytes.size()), bytes.constData());
    int line = LineOf(Send(editor_, S::SCI_GETCURRENTPOS));
    CheckLines(LineOf(start) - 1, line + 1);
    if (!LineShown(line)) {
        const int count = LineCount();
        while (line + 1 < count && !LineShown(line))
            ++line;
        while (line > 0 && !LineShown(line))
            --line;
        Send(editor_, S::SCI_SETEMPTYSELECTION, Send(editor_, S::SCI_POSITIONFROMLINE, line));
    }
    if (LineShown(line))
        Send(editor_, S::SCI_SCROLLCARET);
    Send(editor_, S::SCI_ENDUNDOACTION);
    return true;
}
