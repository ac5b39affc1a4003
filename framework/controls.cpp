#include "controls.h"

#include "application.h"
#include "files.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QPainter>
#include <QProgressDialog>

#include <cstring>
#include <utility>

namespace {

constexpr std::size_t kLoadChunk = 1 << 20;

long Send(const TMemo& memo, unsigned int message, unsigned long w = 0, long l = 0)
{
    return memo.SendScintilla(message, w, l);
}

bool IsBreak(char c)
{
    return c == '\n' || c == '\r';
}

// A document that keeps no styles, which would take a byte per character.
void UseTextOnlyDocument(QsciScintillaBase& editor)
{
    const long document =
        editor.SendScintilla(QsciScintillaBase::SCI_CREATEDOCUMENT, 0UL,
                             static_cast<long>(QsciScintillaBase::SC_DOCUMENTOPTION_STYLES_NONE));
    editor.SendScintilla(QsciScintillaBase::SCI_SETDOCPOINTER, 0UL, document);
    editor.SendScintilla(QsciScintillaBase::SCI_RELEASEDOCUMENT, 0UL, document);
}

} // namespace

int TStrings::Count() const
{
    Settle();
    const auto length = Send(memo_, QsciScintillaBase::SCI_GETLENGTH);
    if (length == 0)
        return 0;
    const auto lines = Send(memo_, QsciScintillaBase::SCI_GETLINECOUNT);
    const char last = static_cast<char>(
        Send(memo_, QsciScintillaBase::SCI_GETCHARAT, static_cast<unsigned long>(length - 1)));
    return static_cast<int>(IsBreak(last) ? lines - 1 : lines);
}

std::string_view TStrings::View(int index) const
{
    if (index < 0 || index >= Count())
        throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
    const auto line = static_cast<unsigned long>(index);
    const auto start = Send(memo_, QsciScintillaBase::SCI_POSITIONFROMLINE, line);
    const auto end = Send(memo_, QsciScintillaBase::SCI_GETLINEENDPOSITION, line);
    const auto length = end - start;
    const auto* bytes = reinterpret_cast<const char*>(Send(
        memo_, QsciScintillaBase::SCI_GETRANGEPOINTER, static_cast<unsigned long>(start), length));
    return {bytes, static_cast<std::size_t>(length)};
}

std::string TStrings::Strings(int index) const
{
    return std::string(View(index));
}

AnsiString TStrings::Text() const
{
    const auto length = Send(memo_, QsciScintillaBase::SCI_GETLENGTH);
    const auto* bytes =
        reinterpret_cast<const char*>(Send(memo_, QsciScintillaBase::SCI_GETCHARACTERPOINTER));
    return AnsiString(bytes, static_cast<std::size_t>(length));
}

int TStrings::TextLineCount() const
{
    Settle();
    return static_cast<int>(Send(memo_, QsciScintillaBase::SCI_GETLINECOUNT));
}

void TStrings::BeforeChange(long position, long length, bool deletion)
{
    Settle();
    // The change lies within these lines; one more on each side, so that a
    // line break joined to or parted from its neighbour is never missed.
    const auto lineOf = [this](long at) {
        return static_cast<int>(
            Send(memo_, QsciScintillaBase::SCI_LINEFROMPOSITION, static_cast<unsigned long>(at)));
    };
    const int oldCount = static_cast<int>(Send(memo_, QsciScintillaBase::SCI_GETLINECOUNT));
    const int last = deletion ? lineOf(position + length) : lineOf(position);
    pending_ = {std::max(0, lineOf(position) - 1), std::min(oldCount, last + 2), oldCount, true};
}

void TStrings::Settle() const
{
    if (!pending_.active)
        return;
    pending_.active = false;
    const int newCount = static_cast<int>(Send(memo_, QsciScintillaBase::SCI_GETLINECOUNT));
    const int removed = pending_.end - pending_.first;
    const int added = std::max(0, removed + newCount - pending_.oldCount);
    if (OnChange)
        OnChange(pending_.first, removed, added);
}

std::string_view TStrings::Range(int begin, int end) const
{
    Settle();
    const long start =
        Send(memo_, QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(begin));
    const long stop = end < TextLineCount() ? Send(memo_, QsciScintillaBase::SCI_POSITIONFROMLINE,
                                                   static_cast<unsigned long>(end))
                                            : Send(memo_, QsciScintillaBase::SCI_GETLENGTH);
    if (start < 0 || stop <= start)
        return {};
    // Scintilla makes the range contiguous by moving its gap only when the
    // range spans it, which after an edit is a short move.
    const auto* bytes =
        reinterpret_cast<const char*>(Send(memo_, QsciScintillaBase::SCI_GETRANGEPOINTER,
                                           static_cast<unsigned long>(start), stop - start));
    return {bytes, static_cast<std::size_t>(stop - start)};
}

namespace {

constexpr std::size_t kReadPiece = 4 << 20;
constexpr int kProgressSteps = 1000;

// A new text goes into a document of its own, filled by an editor that is
// never shown, and takes the text box's place only once all of it is in: a
// failed or cancelled fill leaves the text as it was, and the file's bytes are
// never held twice.
class Filler
{
public:
    explicit Filler(std::size_t size)
    {
        UseTextOnlyDocument(editor_);
        editor_.SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 0UL);
        // No change notices: QScintilla's cost a count from the start.
        editor_.SendScintilla(QsciScintillaBase::SCI_SETMODEVENTMASK, 0UL);
        // Room to edit in: a text box filled to the brim grows by copying
        // the whole text at the first key typed.
        editor_.SendScintilla(QsciScintillaBase::SCI_ALLOCATE,
                              static_cast<unsigned long>(size + size / 16 + kLoadChunk));
    }

    void Append(std::string_view piece)
    {
        if (piece.empty())
            return;
        editor_.SendScintilla(QsciScintillaBase::SCI_APPENDTEXT, piece.size(),
                              reinterpret_cast<long>(piece.data()));
        MarkLongRuns(piece);
    }

    long Document() const { return editor_.SendScintilla(QsciScintillaBase::SCI_GETDOCPOINTER); }
    const std::vector<long>& Marks() const { return marks_; }

private:
    // Marks every half of the longest shown line within each run of bytes
    // without LF, so that any longer line, CR breaks included, holds a mark.
    // Each window is searched from its end, which in ordinary text finds an
    // LF at once: the whole text costs a few thousand searches.
    void MarkLongRuns(std::string_view piece)
    {
        constexpr long half = TMemo::LongestShownLine / 2;
        std::size_t at = 0;
        while (at < piece.size()) {
            const std::size_t window = std::min<std::size_t>(half, piece.size() - at);
            const auto* found =
                static_cast<const char*>(::memrchr(piece.data() + at, '\n', window));
            const std::size_t end =
                found ? static_cast<std::size_t>(found - piece.data()) : at + window;
            for (; nextMark_ < position_ + static_cast<long>(end); nextMark_ += half)
                marks_.push_back(nextMark_);
            if (found)
                nextMark_ = position_ + static_cast<long>(end) + 1 + half;
            at = found ? end + 1 : end;
        }
        position_ += static_cast<long>(piece.size());
    }

    QsciScintillaBase editor_;
    long position_ = 0;
    long nextMark_ = TMemo::LongestShownLine / 2;
    std::vector<long> marks_;
};

} // namespace

void TStrings::Adopt(long document, const std::vector<long>& marks)
{
    const int before = TextLineCount();
    // The text box takes its own hold of the document before the filler goes.
    Send(memo_, QsciScintillaBase::SCI_SETDOCPOINTER, 0, document);
    Send(memo_, QsciScintillaBase::SCI_SETUNDOCOLLECTION, 1);
    // The code page belongs to the document.
    memo_.setUtf8(true);
    Send(memo_, QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
    Send(memo_, QsciScintillaBase::SCI_SETSAVEPOINT);
    memo_.HideLongLines(marks);
    // The caret in a hidden line would have it laid out at every paint, and
    // going to a line lays it out.
    int line = 0;
    while (line + 1 < TextLineCount() && !memo_.LineShown(line))
        ++line;
    if (memo_.LineShown(line))
        Send(memo_, QsciScintillaBase::SCI_GOTOLINE, static_cast<unsigned long>(line));
    else
        Send(memo_, QsciScintillaBase::SCI_SETEMPTYSELECTION, 0);
    if (OnChange)
        OnChange(0, before, TextLineCount());
    emit memo_.Changed();
}

void TStrings::SetText(std::string_view text)
{
    Filler filler(text.size());
    std::size_t done = 0;
    while (done < text.size()) {
        std::size_t piece = std::min(kLoadChunk, text.size() - done);
        // Scintilla takes a large text faster in pieces; a CR LF pair stays
        // within one.
        if (done + piece < text.size() && text[done + piece - 1] == '\r' &&
            text[done + piece] == '\n')
            ++piece;
        filler.Append(text.substr(done, piece));
        done += piece;
    }
    Adopt(filler.Document(), filler.Marks());
}

bool TStrings::LoadFromFile(const AnsiString& fileName)
{
    std::unique_ptr<Filler> filler;
    // Shown only for a load that takes more than half a second; it keeps the
    // windows painting while the file comes in.
    QProgressDialog progress(QStringLiteral("Opening ") + QString::fromLocal8Bit(fileName.c_str()),
                             QStringLiteral("Cancel"), 0, kProgressSteps, &memo_);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(ProgressAfterMs);
    progress.setAutoReset(false);
    const bool complete = ReadFilePieces(
        fileName, kReadPiece, [&](std::string_view piece, std::uint64_t done, std::uint64_t size) {
            if (!filler)
                filler = std::make_unique<Filler>(size);
            filler->Append(piece);
            if (size > 0)
                progress.setValue(
                    static_cast<int>(std::min<std::uint64_t>(done, size) * kProgressSteps / size));
            return !progress.wasCanceled();
        });
    if (!complete)
        return false;
    Adopt(filler->Document(), filler->Marks());
    return true;
}

TMemo::TMemo(QWidget* parent) : QsciScintilla(parent), Lines(&lines_), lines_(*this)
{
    // A plain text box: no lexer, margins or wrapping, scroll bars both ways.
    UseTextOnlyDocument(*this);
    setUtf8(true);
    for (int margin = 0; margin < 5; ++margin)
        setMarginWidth(margin, 0);
    setWrapMode(QsciScintilla::WrapNone);
    SendScintilla(SCI_SETHSCROLLBAR, 1);
    SendScintilla(SCI_SETVSCROLLBAR, 1);
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1);
    SendScintilla(SCI_ANNOTATIONSETVISIBLE, ANNOTATION_STANDARD);
    // Told before each change, and the change is settled on the next look at
    // the lines. The after-change notices cost a count of the characters up to
    // the change inside QScintilla (for accessibility), which on a large text
    // is tens of milliseconds an edit.
    SendScintilla(SCI_SETMODEVENTMASK, SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE);
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int length, int, int, int, int, int, int) {
                OnModified(position, type, length);
            });
    connect(this, &TMemo::Changed, this, [] {
        if (Application)
            Application->NoteEdit();
    });
}

void TMemo::OnModified(long position, int modificationType, long length)
{
    if (!(modificationType & (SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE)))
        return;
    const bool deletion = (modificationType & SC_MOD_BEFOREDELETE) != 0;
    lines_.BeforeChange(position, length, deletion);
    // Once made, the edited lines are looked at for length before the next
    // paint (queued calls come before Qt's paint requests). Line numbers
    // move with later edits, so the range grows rather than shifts.
    const int line =
        static_cast<int>(SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(position)));
    // An insertion adds at most a line a byte.
    const int reach = deletion ? 1 : static_cast<int>(std::min(length, 1L << 28)) + 1;
    if (checkFirst_ < 0) {
        checkFirst_ = line - 1;
        checkLast_ = line + reach;
        QMetaObject::invokeMethod(
            this,
            [this] {
                const int first = std::exchange(checkFirst_, -1);
                CheckLines(first, checkLast_);
            },
            Qt::QueuedConnection);
    } else {
        checkFirst_ = std::min(checkFirst_, line - 1);
        checkLast_ = std::min(std::max(checkLast_, line) + reach, 1 << 30);
    }
    emit Changed();
}

namespace {

long LineBytes(const TMemo& memo, int line)
{
    const auto at = static_cast<unsigned long>(line);
    return Send(memo, QsciScintillaBase::SCI_GETLINEENDPOSITION, at) -
           Send(memo, QsciScintillaBase::SCI_POSITIONFROMLINE, at);
}

int LineCount(const TMemo& memo)
{
    return static_cast<int>(Send(memo, QsciScintillaBase::SCI_GETLINECOUNT));
}

} // namespace

bool TMemo::LineShown(int line) const
{
    return LineBytes(*this, line) <= LongestShownLine;
}

void TMemo::HideLongLines(const std::vector<long>& marks)
{
    int previous = -1;
    for (const long mark : marks) {
        const auto line =
            static_cast<int>(SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(mark)));
        if (line != previous && !LineShown(line)) {
            SendScintilla(SCI_HIDELINES, static_cast<unsigned long>(line), line);
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
        if (shown != (SendScintilla(SCI_GETLINEVISIBLE, static_cast<unsigned long>(line)) != 0))
            SendScintilla(shown ? SCI_SHOWLINES : SCI_HIDELINES, static_cast<unsigned long>(line),
                          line);
    }
    NoteHiddenLines(first - 1, last + 1);
    KeepFirstLineOut();
}

// Scintilla never hides the first line; a long one is kept scrolled out of
// view instead, with the caret out of it.
void TMemo::KeepFirstLineOut()
{
    const bool out = !LineShown(0) && LineCount(*this) > 1;
    SendScintilla(SCI_SETENDATLASTLINE, out ? 0UL : 1UL);
    if (out && SendScintilla(SCI_GETFIRSTVISIBLELINE) == 0)
        SendScintilla(SCI_SETFIRSTVISIBLELINE, 1UL);
}

std::string TMemo::NoteUnder(int line) const
{
    const auto length = SendScintilla(SCI_ANNOTATIONGETTEXT, static_cast<unsigned long>(line),
                                      static_cast<const char*>(nullptr));
    std::string note(static_cast<std::size_t>(std::max(length, 0L)), '\0');
    if (length > 0)
        SendScintilla(SCI_ANNOTATIONGETTEXT, static_cast<unsigned long>(line), note.data());
    return note;
}

namespace {

std::string NoteFor(long bytes)
{
    return "A line of " + std::to_string(bytes) + " bytes is not shown: it is too long to lay out.";
}

} // namespace

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
            note += (note.empty() ? "" : "\n") + NoteFor(LineBytes(*this, hidden));
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
            SendScintilla(SCI_ANNOTATIONSETTEXT, static_cast<unsigned long>(line),
                          note.empty() ? nullptr : note.c_str());
    }
}

bool TMemo::OnlyLineTooLong() const
{
    return LineCount(*this) == 1 && !LineShown(0);
}

void TMemo::paintEvent(QPaintEvent* event)
{
    if (OnlyLineTooLong()) {
        // Nothing to show but the note.
        QPainter painter(viewport());
        painter.fillRect(viewport()->rect(), palette().base());
        painter.drawText(viewport()->rect().adjusted(4, 4, -4, -4),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                         QString::fromStdString(NoteFor(LineBytes(*this, 0))));
        return;
    }
    if (!LineShown(0) && SendScintilla(SCI_GETFIRSTVISIBLELINE) == 0)
        SendScintilla(SCI_SETFIRSTVISIBLELINE, 1UL);
    QsciScintilla::paintEvent(event);
}

void TMemo::mousePressEvent(QMouseEvent* event)
{
    if (!OnlyLineTooLong())
        QsciScintilla::mousePressEvent(event);
}

void TMemo::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) &&
        SelectHiddenLines(key == Qt::Key_Backspace))
        return;
    if (!LineShown(0) && KeyEntersFirstLine(*event))
        return;
    if (event->matches(QKeySequence::Paste)) {
        paste();
        return;
    }
    QsciScintilla::keyPressEvent(event);
}

void TMemo::paste()
{
    if (!PasteLongText())
        QsciScintilla::paste();
}

// Scintilla's paste leaves the caret at the end of the text pasted, and
// showing the caret lays its line out: a line too long to show would be laid
// out once, however long. Long text is pasted here instead, its long lines
// hidden before the caret is shown outside them.
bool TMemo::PasteLongText()
{
    bool rectangular = false;
    const QByteArray bytes = fromMimeData(QApplication::clipboard()->mimeData(), rectangular);
    if (rectangular || bytes.size() <= LongestShownLine)
        return false;
    SendScintilla(SCI_BEGINUNDOACTION);
    const long start = SendScintilla(SCI_GETSELECTIONSTART);
    SendScintilla(SCI_DELETERANGE, static_cast<unsigned long>(start),
                  SendScintilla(SCI_GETSELECTIONEND) - start);
    // Moves the caret to the end of the text without showing it.
    SendScintilla(SCI_ADDTEXT, static_cast<unsigned long>(bytes.size()), bytes.constData());
    const auto lineOf = [this](long position) {
        return static_cast<int>(
            SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(position)));
    };
    const int first = lineOf(start);
    int line = lineOf(SendScintilla(SCI_GETCURRENTPOS));
    CheckLines(first - 1, line + 1);
    if (!LineShown(line)) {
        const int count = LineCount(*this);
        int shown = line;
        while (shown + 1 < count && !LineShown(shown))
            ++shown;
        while (shown > 0 && !LineShown(shown))
            --shown;
        SendScintilla(SCI_SETEMPTYSELECTION,
                      static_cast<unsigned long>(
                          SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(shown))));
        line = shown;
    }
    if (LineShown(line))
        SendScintilla(SCI_SCROLLCARET);
    SendScintilla(SCI_ENDUNDOACTION);
    return true;
}

// Keys that would take the caret into a long first line, which lays it out
// as showing it would. Alone in the text, such a line can only be selected
// whole and deleted.
bool TMemo::KeyEntersFirstLine(const QKeyEvent& event)
{
    const int key = event.key();
    const bool control = (event.modifiers() & Qt::ControlModifier) != 0;
    if (OnlyLineTooLong()) {
        if (control && key == Qt::Key_A) {
            SendScintilla(SCI_SELECTALL);
            return true;
        }
        const bool deletion = key == Qt::Key_Backspace || key == Qt::Key_Delete;
        return !(deletion && SendScintilla(SCI_GETSELECTIONEMPTY) == 0);
    }
    const long caret = SendScintilla(SCI_GETCURRENTPOS);
    const auto line =
        static_cast<int>(SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(caret)));
    const bool atLineStart =
        caret == SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    switch (key) {
    case Qt::Key_Home: {
        if (!control)
            return false;
        // To the start of the second line instead, selecting as the key would.
        const long second = SendScintilla(SCI_POSITIONFROMLINE, 1UL);
        const long anchor =
            (event.modifiers() & Qt::ShiftModifier) != 0 ? SendScintilla(SCI_GETANCHOR) : second;
        SendScintilla(SCI_SETSEL, static_cast<unsigned long>(anchor), second);
        return true;
    }
    case Qt::Key_Up:
        return line <= 1;
    case Qt::Key_PageUp:
        return line - SendScintilla(SCI_LINESONSCREEN) <= 0;
    case Qt::Key_Left:
        return line <= 1 && atLineStart;
    default:
        return false;
    }
}

// Backspace at the start of a line after hidden lines, or Delete at the end
// of one before them, would join a hidden line and bring the caret into it,
// which lays it out as showing it would. The hidden lines are selected
// instead, so that the next key deletes them whole.
bool TMemo::SelectHiddenLines(bool backwards)
{
    if (SendScintilla(SCI_GETSELECTIONEMPTY) == 0)
        return false;
    const long caret = SendScintilla(SCI_GETCURRENTPOS);
    const auto line =
        static_cast<int>(SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(caret)));
    const auto position = [this](unsigned int message, int l) {
        return static_cast<unsigned long>(SendScintilla(message, static_cast<unsigned long>(l)));
    };
    if (backwards) {
        if (line == 0 || caret != static_cast<long>(position(SCI_POSITIONFROMLINE, line)) ||
            LineShown(line - 1))
            return false;
        int first = line - 1;
        while (first > 0 && !LineShown(first - 1))
            --first;
        SendScintilla(SCI_SETSEL, position(SCI_POSITIONFROMLINE, first), caret);
    } else {
        const int count = LineCount(*this);
        if (line + 1 >= count ||
            caret != static_cast<long>(position(SCI_GETLINEENDPOSITION, line)) ||
            LineShown(line + 1))
            return false;
        int last = line + 1;
        while (last + 1 < count && !LineShown(last + 1))
            ++last;
        SendScintilla(SCI_SETSEL, position(SCI_GETLINEENDPOSITION, last), caret);
    }
    return true;
}

AnsiString TEdit::Text() const
{
    return text().toLocal8Bit().toStdString();
}

void TEdit::SetText(const AnsiString& text)
{
    setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

TOpenDialog::TOpenDialog(QWidget* parent) : QWidget(parent)
{
    hide();
}

bool TOpenDialog::Execute()
{
    // Defaults throughout; a typed name need not exist yet.
    QFileDialog dialog(window());
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName_ = QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
    return true;
}
