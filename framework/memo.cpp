#include "memo.h"

#include "files.h"
#include "longlines.h"
#include "report.h"
#include "scintilla.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QProgressDialog>

namespace {

using S = QsciScintillaBase;

constexpr std::size_t kReadPiece = 4 << 20;
constexpr int kProgressSteps = 1000;
// Only a load that takes longer shows its progress.
constexpr int kProgressAfterMs = 500;
// Changes nobody has taken yet are summed up beyond this many.
constexpr std::size_t kChangesKept = 4096;

bool IsBreak(char c)
{
    return c == '\n' || c == '\r';
}

// A document that keeps no styles, which would take a byte per character. A
// large one counts its lines' positions in 64 bits, or they would wrap at 2 GB.
void UseTextOnlyDocument(QsciScintillaBase& editor, bool large = false)
{
    const long document = Send(editor, S::SCI_CREATEDOCUMENT, 0,
                               static_cast<long>(S::SC_DOCUMENTOPTION_STYLES_NONE |
                                                 (large ? S::SC_DOCUMENTOPTION_TEXT_LARGE
                                                        : S::SC_DOCUMENTOPTION_DEFAULT)));
    Send(editor, S::SCI_SETDOCPOINTER, 0, document);
    Send(editor, S::SCI_RELEASEDOCUMENT, 0, document);
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

// A new text goes into a document of its own, filled by an editor that is
// never shown, and takes the text box's place only once all of it is in: a
// failed or cancelled fill leaves the text as it was, and the file's bytes are
// never held twice.
class Filler
{
public:
    explicit Filler(std::size_t size)
    {
        // With room to grow by edits.
        UseTextOnlyDocument(editor_, size > (1u << 30));
        Send(editor_, S::SCI_SETUNDOCOLLECTION, 0);
        // No change notices: QScintilla's cost a count from the start.
        Send(editor_, S::SCI_SETMODEVENTMASK, 0);
        // Room to edit in: a text box filled to the brim grows by copying
        // the whole text at the first key typed.
        Send(editor_, S::SCI_ALLOCATE,
             static_cast<long>(size + std::min<std::size_t>(size / 16, 64 << 20) + (1 << 20)));
    }

    void Append(std::string_view piece)
    {
        if (piece.empty())
            return;
        Send(editor_, S::SCI_APPENDTEXT, piece.size(), reinterpret_cast<long>(piece.data()));
        marker_.Take(piece);
    }

    long Document() const { return Send(editor_, S::SCI_GETDOCPOINTER); }
    const std::vector<long>& Marks() const { return marker_.Marks(); }

private:
    QsciScintillaBase editor_;
    TLongLines::Marker marker_;
};

} // namespace

int TStrings::Count() const
{
    const auto length = Send(memo_, S::SCI_GETLENGTH);
    if (length == 0)
        return 0;
    const auto lines = Send(memo_, S::SCI_GETLINECOUNT);
    const char last = static_cast<char>(Send(memo_, S::SCI_GETCHARAT, length - 1));
    return static_cast<int>(IsBreak(last) ? lines - 1 : lines);
}

std::string_view TStrings::View(int index) const
{
    if (index < 0 || index >= Count())
        throw EStringListError::IndexOutOfBounds(index);
    const auto start = Send(memo_, S::SCI_POSITIONFROMLINE, index);
    const auto end = Send(memo_, S::SCI_GETLINEENDPOSITION, index);
    const auto* bytes =
        reinterpret_cast<const char*>(Send(memo_, S::SCI_GETRANGEPOINTER, start, end - start));
    return {bytes, static_cast<std::size_t>(end - start)};
}

int TStrings::TextLineCount() const
{
    return static_cast<int>(Send(memo_, S::SCI_GETLINECOUNT));
}

std::string_view TStrings::Range(int begin, int end) const
{
    const long start = Send(memo_, S::SCI_POSITIONFROMLINE, begin);
    const long stop = end < TextLineCount() ? Send(memo_, S::SCI_POSITIONFROMLINE, end)
                                            : Send(memo_, S::SCI_GETLENGTH);
    if (start < 0 || stop <= start)
        return {};
    // Scintilla makes the range contiguous by moving its gap only when the
    // range spans it, which after an edit is a short move.
    const auto* bytes =
        reinterpret_cast<const char*>(Send(memo_, S::SCI_GETRANGEPOINTER, start, stop - start));
    return {bytes, static_cast<std::size_t>(stop - start)};
}

std::vector<TLinesChange> TStrings::TakeChanges()
{
    Settle();
    return std::exchange(changes_, {});
}

void TStrings::Record(TLinesChange change)
{
    if (changes_.empty())
        countBeforeChanges_ = TextLineCount() - change.added + change.removed;
    changes_.push_back(change);
    if (changes_.size() > kChangesKept)
        changes_ = {{0, countBeforeChanges_, TextLineCount()}};
}

void TStrings::BeforeChange(long position, long length, bool deletion)
{
    Settle();
    // The change lies within these lines; one more on each side, so that a
    // line break joined to or parted from its neighbour is never missed.
    const auto lineOf = [this](long at) {
        return static_cast<int>(Send(memo_, S::SCI_LINEFROMPOSITION, at));
    };
    const int oldCount = TextLineCount();
    const int last = deletion ? lineOf(position + length) : lineOf(position);
    pending_ = {std::max(0, lineOf(position) - 1), std::min(oldCount, last + 2), oldCount, true};
}

void TStrings::Settle()
{
    if (!pending_.active)
        return;
    pending_.active = false;
    const int removed = pending_.end - pending_.first;
    Record({pending_.first, removed, std::max(0, removed + TextLineCount() - pending_.oldCount)});
}

void TStrings::Adopt(long document, const std::vector<long>& marks, int load)
{
    Settle();
    const int before = TextLineCount();
    // The text box takes its own hold of the document before the filler goes.
    Send(memo_, S::SCI_SETDOCPOINTER, 0, document);
    Send(memo_, S::SCI_SETUNDOCOLLECTION, 1);
    // The code page belongs to the document.
    memo_.setUtf8(true);
    Send(memo_, S::SCI_EMPTYUNDOBUFFER);
    Send(memo_, S::SCI_SETSAVEPOINT);
    memo_.longLines_->NewText(marks);
    Record({0, before, TextLineCount(), load});
    NoteEdit();
}

namespace {

// Tells the tap how a load ended, also when it ends by an exception.
class Tapping
{
public:
    explicit Tapping(TLoadTap* tap) : tap_(tap) {}
    ~Tapping()
    {
        if (tap_ && started_)
            tap_->Finish(0);
    }
    Tapping(const Tapping&) = delete;
    Tapping& operator=(const Tapping&) = delete;

    void Start(std::uint64_t size)
    {
        started_ = true;
        if (tap_)
            tap_->Start(size);
    }
    void Take(std::string_view piece)
    {
        if (tap_)
            tap_->Take(piece);
    }
    // The text is in place as load number `load`.
    void Adopted(int load)
    {
        if (tap_ && started_)
            tap_->Finish(load);
        tap_ = nullptr;
    }

private:
    TLoadTap* tap_;
    bool started_ = false;
};

} // namespace

bool TStrings::LoadFromFile(const AnsiString& fileName)
{
    Tapping tapping(tap_);
    std::unique_ptr<Filler> filler;
    // It keeps the windows painting while the file comes in.
    QProgressDialog progress(QStringLiteral("Opening ") + QString::fromLocal8Bit(fileName.c_str()),
                             QStringLiteral("Cancel"), 0, kProgressSteps, &memo_);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(kProgressAfterMs);
    progress.setAutoReset(false);
    const bool complete = ReadFilePieces(
        fileName, kReadPiece, [&](std::string_view piece, std::uint64_t done, std::uint64_t size) {
            if (!filler) {
                filler = std::make_unique<Filler>(size);
                tapping.Start(size);
            }
            tapping.Take(piece);
            filler->Append(piece);
            if (size > 0)
                progress.setValue(
                    static_cast<int>(std::min<std::uint64_t>(done, size) * kProgressSteps / size));
            return !progress.wasCanceled();
        });
    if (!complete)
        return false;
    // The tap's work is done before the text is in place and any edit can follow.
    tapping.Adopted(++loads_);
    Adopt(filler->Document(), filler->Marks(), loads_);
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
    longLines_ = new TLongLines(*this);
    // Told before each change, and the change is settled at the next before
    // or when taken. The after-change notices cost a count of the characters
    // up to the change inside QScintilla (for accessibility), which on a
    // large text is tens of milliseconds an edit.
    SendScintilla(SCI_SETMODEVENTMASK, SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE);
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int length, int, int, int, int, int, int) {
                OnModified(position, type, length);
            });
}

void TMemo::OnModified(long position, int modificationType, long length)
{
    if (!(modificationType & (SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE)))
        return;
    const bool deletion = (modificationType & SC_MOD_BEFOREDELETE) != 0;
    lines_.BeforeChange(position, length, deletion);
    longLines_->Changing(position, length, deletion);
    NoteEdit();
}

void TMemo::paste()
{
    bool rectangular = false;
    const QByteArray bytes = fromMimeData(QApplication::clipboard()->mimeData(), rectangular);
    if (!longLines_->Paste(bytes, rectangular))
        QsciScintilla::paste();
}
