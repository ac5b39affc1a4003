#include "memo.h"

#include "fileload.h"
#include "longlines.h"
#include "plainaccessible.h"
#include "report.h"
#include "scintilla.h"

#include <QApplication>
#include <QClipboard>

namespace {

using S = QsciScintillaBase;

bool IsBreak(char c)
{
    return c == '\n' || c == '\r';
}

} // namespace

TStrings::TStrings(TMemo& memo)
    : memo_(memo), text_(memo),
      log_(text_, [this](const LinesChange& change) { memo_.longLines_->Changed(change); })
{
}

std::int64_t TStrings::Text::Length() const
{
    return Send(editor_, S::SCI_GETLENGTH);
}

std::int64_t TStrings::Text::LineCount() const
{
    return Send(editor_, S::SCI_GETLINECOUNT);
}

std::int64_t TStrings::Text::LineOf(std::int64_t position) const
{
    return Send(editor_, S::SCI_LINEFROMPOSITION, position);
}

std::int64_t TStrings::Text::Gap() const
{
    return Send(editor_, S::SCI_GETGAPPOSITION);
}

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
    // A range pointer may move the gap, which tells the last change.
    log_.Settle();
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
    log_.Settle();
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

std::vector<LinesChange> TStrings::TakeChanges()
{
    return log_.Take();
}

void TStrings::Adopt(long document, const std::vector<long>& marks, std::any loaded)
{
    log_.Settle();
    const std::int64_t before = text_.LineCount();
    // The text box takes its own hold of the document before the filler goes.
    Send(memo_, S::SCI_SETDOCPOINTER, 0, document);
    Send(memo_, S::SCI_SETUNDOCOLLECTION, 1);
    // The code page belongs to the document.
    memo_.setUtf8(true);
    Send(memo_, S::SCI_EMPTYUNDOBUFFER);
    Send(memo_, S::SCI_SETSAVEPOINT);
    memo_.longLines_->NewText(marks);
    log_.Replaced(before, std::move(loaded));
    NoteEdit();
}

bool TStrings::LoadFromFile(const AnsiString& fileName)
{
    FileLoad load(memo_, tap_);
    if (!load.Read(fileName))
        return false;
    // The tap's work is done before the text is in place and any edit can follow.
    std::any loaded = load.Adopted();
    Adopt(load.Document(), load.Marks(), std::move(loaded));
    return true;
}

TMemo::TMemo(QWidget* parent) : QsciScintilla(parent), Lines(&lines_), lines_(*this)
{
    UsePlainAccessibleTextBoxes();
    // A plain text box: no lexer, margins or wrapping, scroll bars both ways.
    UseTextOnlyDocument(*this);
    setUtf8(true);
    for (int margin = 0; margin < 5; ++margin)
        setMarginWidth(margin, 0);
    setWrapMode(QsciScintilla::WrapNone);
    SendScintilla(SCI_SETHSCROLLBAR, 1);
    SendScintilla(SCI_SETVSCROLLBAR, 1);
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1);
    longLines_ = new LongLines(*this, [this] { lines_.log_.Settle(); });
    // Told before each change only: QScintilla answers an after-change notice
    // with a count of the characters up to the change, for accessibility,
    // which at the end of a text of 360 MB is 2.4 s an edit. The change is
    // settled at the next notice or when taken.
    SendScintilla(SCI_SETMODEVENTMASK, SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE);
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int length, int, int, int, int, int, int) {
                OnModified(position, type, length);
            });
}

void TMemo::OnModified(int position, int modificationType, int length)
{
    if (!(modificationType & (SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE)))
        return;
    lines_.log_.Before(position, length, (modificationType & SC_MOD_BEFOREDELETE) != 0);
    longLines_->Changing();
    NoteEdit();
}

void TMemo::paste()
{
    bool rectangular = false;
    const QByteArray bytes = fromMimeData(QApplication::clipboard()->mimeData(), rectangular);
    if (!longLines_->Paste(bytes, rectangular))
        QsciScintilla::paste();
}
