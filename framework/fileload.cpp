#include "fileload.h"

#include "files.h"
#include "inputgate.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// Read a block at a time, into blocks the text then keeps.
constexpr std::size_t kBlock = std::size_t{16} << 20;
constexpr std::size_t kGrowth = std::size_t{1} << 16;
constexpr int kProgressSteps = 1000;
// Only a load that takes longer shows its progress.
constexpr int kProgressAfterMs = 500;
// How often the window is kept alive while the tap finishes.
constexpr int kPollMs = 5;

} // namespace

FileLoad::FileLoad(QWidget& owner, LoadTap* tap) : owner_(owner), tap_(tap) {}

FileLoad::~FileLoad()
{
    if (tapping_)
        tap_->Finish(false);
}

bool FileLoad::Read(const AnsiString& fileName, TextBuilder& built)
{
    FileReader file(fileName);
    QProgressDialog progress(QStringLiteral("Opening ") + QString::fromLocal8Bit(fileName.c_str()),
                             QStringLiteral("Cancel"), 0, kProgressSteps, &owner_);
    // Not modal: Qt drops a close sent to a window that a modal dialog
    // blocks, so that closing the control window during a long load was
    // lost. The gate keeps other input out instead, once the progress shows;
    // until then the user's input waits for the load's end, as a click or
    // keys sent while a short load runs would otherwise be lost.
    const InputGate gate(progress);
    const auto events = [&progress] {
        return progress.isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents;
    };
    progress.setMinimumDuration(kProgressAfterMs);
    progress.setAutoReset(false);
    const std::uint64_t size = file.Size();
    // How far the load is: read, and taken care of by the tap.
    std::uint64_t read = 0;
    // A window shown at the start and closed since ends the load.
    const QWidget& window = *owner_.window();
    const bool shown = window.isVisible();
    const auto going = [&] {
        // The windows painting, and a close seen, while the file comes in.
        QCoreApplication::processEvents(events());
        const std::uint64_t done = tap_ ? std::min(read, tap_->Done()) : read;
        if (size > 0)
            progress.setValue(
                static_cast<int>(std::min(done, size) * kProgressSteps / std::max(size, read)));
        return !progress.wasCanceled() && (window.isVisible() || !shown);
    };
    if (tap_) {
        tap_->Start(size);
        tapping_ = true;
    }
    try {
        for (;;) {
            // A small file in one block of its size, a large one in blocks; past
            // the size it had, a small block finds whether it grew.
            const std::size_t capacity =
                read < size ? static_cast<std::size_t>(std::min<std::uint64_t>(size - read, kBlock))
                            : kGrowth;
            auto block = std::make_unique<TextBlock>(capacity, true);
            const std::size_t got = file.Read(block->data(), capacity);
            if (got == 0)
                break;
            const char* const bytes = block->data();
            std::uint32_t* const counts = built.Append(std::move(block), got);
            if (tap_)
                tap_->Take({bytes, got}, counts);
            read += got;
            if (!going())
                return false;
        }
    } catch (const std::bad_alloc&) {
        FailToOpen(fileName, "There is not enough memory to load it.");
    }
    // The tap's work to its end, the windows kept alive meanwhile.
    while (tap_ && tap_->Done() < read) {
        if (!going())
            return false;
        QEventLoop wait;
        QTimer::singleShot(kPollMs, &wait, &QEventLoop::quit);
        wait.exec(events());
    }
    return true;
}

std::any FileLoad::Made()
{
    if (!tapping_)
        return {};
    tapping_ = false;
    return tap_->Finish(true);
}
