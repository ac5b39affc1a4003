#include "fileload.h"

#include "files.h"
#include "linecount.h"
#include "scintilla.h"

#include <QProgressDialog>

namespace {

using S = QsciScintillaBase;

constexpr std::size_t kReadPiece = 4 << 20;
constexpr int kProgressSteps = 1000;
// Only a load that takes longer shows its progress.
constexpr int kProgressAfterMs = 500;

} // namespace

// The document is filled by an editor that is never shown: a failed or
// cancelled fill leaves the text box's text as it was, and the file's bytes
// are never held twice.
class FileLoad::Filler
{
public:
    explicit Filler(std::uint64_t size)
    {
        UseTextOnlyDocument(editor_, size > (1u << 30));
        Send(editor_, S::SCI_SETUNDOCOLLECTION, 0);
        // No change notices: QScintilla's cost a count from the start.
        Send(editor_, S::SCI_SETMODEVENTMASK, 0);
        // Room to edit in: a text box filled to the brim grows by copying
        // the whole text at the first key typed.
        Send(editor_, S::SCI_ALLOCATE,
             static_cast<long>(size + std::min<std::uint64_t>(size / 16, 64 << 20) + (1 << 20)));
    }

    void Append(std::string_view piece)
    {
        if (piece.empty())
            return;
        Send(editor_, S::SCI_APPENDTEXT, static_cast<long>(piece.size()),
             reinterpret_cast<long>(piece.data()));
        marker_.Take(piece);
    }

    long Document() const { return Send(editor_, S::SCI_GETDOCPOINTER); }
    const std::vector<long>& Marks() const { return marker_.Marks(); }

private:
    QsciScintillaBase editor_;
    LongLines::Marker marker_;
};

FileLoad::FileLoad(QWidget& owner, LoadTap* tap) : owner_(owner), tap_(tap) {}

// Tells the tap how the load ended, also when it ended by an exception.
FileLoad::~FileLoad()
{
    if (tap_ && tapStarted_)
        tap_->Finish(false);
}

bool FileLoad::Read(const AnsiString& fileName)
{
    // It keeps the windows painting while the file comes in.
    QProgressDialog progress(QStringLiteral("Opening ") + QString::fromLocal8Bit(fileName.c_str()),
                             QStringLiteral("Cancel"), 0, kProgressSteps, &owner_);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(kProgressAfterMs);
    progress.setAutoReset(false);
    LineCounter lines;
    bool started = false;
    const bool complete = ReadFilePieces(
        fileName, kReadPiece, [&](std::string_view piece, std::uint64_t done, std::uint64_t size) {
            if (!started) {
                started = true;
                filler_ = std::make_unique<Filler>(size);
                if (tap_) {
                    tapStarted_ = true;
                    tap_->Start(size);
                }
            }
            lines.Take(piece);
            if (lines.TooMany() && filler_) {
                // Counted to the end, for the message, holding nothing.
                filler_.reset();
                if (tap_ && tapStarted_)
                    tap_->Finish(false);
                tap_ = nullptr;
            }
            if (filler_) {
                if (tap_)
                    tap_->Take(piece);
                filler_->Append(piece);
            }
            if (size > 0)
                progress.setValue(
                    static_cast<int>(std::min<std::uint64_t>(done, size) * kProgressSteps / size));
            return !progress.wasCanceled();
        });
    if (complete && lines.TooMany())
        FailToOpen(fileName, lines.Refusal());
    return complete;
}

long FileLoad::Document() const
{
    return filler_->Document();
}

const std::vector<long>& FileLoad::Marks() const
{
    return filler_->Marks();
}

std::any FileLoad::Adopted()
{
    std::any made;
    if (tap_ && tapStarted_)
        made = tap_->Finish(true);
    tap_ = nullptr;
    return made;
}
