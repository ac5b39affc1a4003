#include "filesave.h"

#include "files.h"

#include <QProgressDialog>

#include <algorithm>
#include <climits>

#include <vector>

namespace {

// Written a stretch at a time, its pieces gathered into one call, the
// progress shown between stretches.
constexpr std::int64_t kStretch = std::int64_t{16} << 20;
constexpr int kProgressSteps = 1000;
// Only a save that takes longer shows its progress.
constexpr int kProgressAfterMs = 500;

} // namespace

bool FileSave::Write(const TextStore& text, const AnsiString& fileName)
{
    FileWriter file(fileName);
    QProgressDialog progress(QStringLiteral("Saving ") + QString::fromLocal8Bit(fileName.c_str()),
                             QStringLiteral("Cancel"), 0, kProgressSteps, &owner_);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(kProgressAfterMs);
    progress.setAutoReset(false);
    const std::int64_t length = text.Length();
    std::vector<iovec> runs;
    for (std::int64_t at = 0; at < length; at += kStretch) {
        runs.clear();
        // In place: the text is never held twice.
        text.Read(at, std::min(kStretch, length - at), [&runs](std::string_view bytes) {
            runs.push_back({const_cast<char*>(bytes.data()), bytes.size()});
            return true;
        });
        // As many runs a call as the system takes.
        for (std::size_t first = 0; first < runs.size(); first += IOV_MAX)
            file.Write(runs.data() + first,
                       static_cast<int>(std::min<std::size_t>(runs.size() - first, IOV_MAX)));
        progress.setValue(
            static_cast<int>((at + std::min(kStretch, length - at)) * kProgressSteps / length));
        if (progress.wasCanceled())
            return false;
    }
    file.Commit();
    return true;
}
