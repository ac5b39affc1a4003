#include "controls.h"

#include "application.h"
#include "files.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFile>
#include <QFileDialog>
#include <QProgressDialog>

#include <cstring>

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

// Qt makes a widget's accessible interface whenever one is asked for, with
// or without an assistive technology listening, and QScintilla's counts the
// characters from the start of the text up to the caret at every caret move:
// 0.4 s a key at the end of 100 MB. Without a listener the text box has a
// plain one.
QAccessibleInterface* PlainTextBoxAccessible(const QString& /*className*/, QObject* object)
{
    auto* memo = qobject_cast<TMemo*>(object);
    if (memo && !QAccessible::isActive())
        return new QAccessibleWidget(memo, QAccessible::EditableText);
    return nullptr;
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
    // Going to a line lays it out: the caret goes to the first shown one.
    if (memo_.NoLineShown())
        Send(memo_, QsciScintillaBase::SCI_SETEMPTYSELECTION, 0);
    else
        Send(memo_, QsciScintillaBase::SCI_GOTOLINE,
             static_cast<unsigned long>(memo_.FirstShownLine()));
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
    // Asked after QScintilla's, which the first of its editors installs.
    [[maybe_unused]] static const bool plainAccessible = [] {
        QAccessible::installFactory(PlainTextBoxAccessible);
        return true;
    }();
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
    if (!checkQueued_) {
        checkQueued_ = true;
        checkFirst_ = line - 1;
        checkLast_ = line + reach;
        QMetaObject::invokeMethod(
            this,
            [this] {
                checkQueued_ = false;
                CheckLines(checkFirst_, checkLast_);
            },
            Qt::QueuedConnection);
    } else {
        checkFirst_ = std::min(checkFirst_, line - 1);
        checkLast_ = std::min(std::max(checkLast_, line) + reach, 1 << 30);
    }
    emit Changed();
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
