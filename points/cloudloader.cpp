#include "cloudloader.h"

#include <new>

namespace {

// Pieces taken but not converted: past this, the load waits for the thread.
constexpr std::size_t kPiecesAhead = 4;
// A line longer than this is not copied together from the pieces it spans:
// it and the lines after it are left to be converted where they lie in the
// text box, as edited lines are.
constexpr std::size_t kLongestJoined = 1 << 20;

} // namespace

CloudLoader::~CloudLoader()
{
    Stop();
}

void CloudLoader::Start(std::uint64_t size)
{
    Stop();
    lines_ = {};
    unfinished_.clear();
    afterCr_ = stopped_ = failed_ = ended_ = dropped_ = false;
    try {
        // The most points the text can hold, a point line having 6 bytes or
        // more: address space only, until written.
        lines_.vertices.reserve(static_cast<std::size_t>(size / 6 + 2) * 3);
    } catch (const std::bad_alloc&) {
        failed_ = true;
    }
    worker_ = std::thread([this] { Work(); });
}

void CloudLoader::Take(std::string_view piece)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pieces_.size() < kPiecesAhead; });
    // A piece's buffer is used again: a new one costs a page fault a page.
    std::string copy;
    if (!spare_.empty()) {
        copy = std::move(spare_.back());
        spare_.pop_back();
    }
    copy.assign(piece);
    pieces_.push_back(std::move(copy));
    changed_.notify_all();
}

void CloudLoader::Finish(int load)
{
    if (!worker_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        ended_ = true;
        dropped_ = load == 0;
        changed_.notify_all();
    }
    worker_.join();
    result_.reset();
    load_ = load;
    if (load != 0 && !failed_)
        result_ = std::move(lines_);
}

std::optional<ConvertedLines> CloudLoader::Result(int load)
{
    if (load != load_ || !result_)
        return std::nullopt;
    return std::exchange(result_, std::nullopt);
}

void CloudLoader::Apply(const std::vector<TLinesChange>& changes, CloudCache& cache)
{
    for (const TLinesChange& change : changes) {
        if (auto loaded = Result(change.load))
            cache.Install(std::move(*loaded), change.added);
        else
            cache.Replace(change.first, change.removed, change.added);
    }
}

void CloudLoader::Stop()
{
    if (worker_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            ended_ = dropped_ = true;
            changed_.notify_all();
        }
        worker_.join();
    }
    pieces_.clear();
}

void CloudLoader::Work()
{
    for (;;) {
        std::string piece;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !pieces_.empty() || ended_; });
            if (dropped_)
                return;
            if (pieces_.empty())
                break;
            piece = std::move(pieces_.front());
            pieces_.pop_front();
            changed_.notify_all();
        }
        Convert(piece, false);
        const std::lock_guard lock(mutex_);
        spare_.push_back(std::move(piece));
    }
    Convert({}, true);
}

void CloudLoader::Convert(std::string_view bytes, bool last)
{
    if (stopped_ || failed_)
        return;
    const auto convert = [this](std::string_view line) {
        float point[3];
        if (ConvertLine(line, scratch_, separator_, point)) {
            lines_.vertices.insert(lines_.vertices.end(), point, point + 3);
            return true;
        }
        KeepError(line, scratch_, separator_, lines_.error, lines_.message);
        stopped_ = true;
        return false;
    };
    try {
        // A CR that ended the last piece took an LF that begins this one with it.
        if (afterCr_ && !bytes.empty() && bytes.front() == '\n')
            bytes.remove_prefix(1);
        afterCr_ = !bytes.empty() && bytes.back() == '\r';
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::string_view line = NextLine(bytes, at);
            if ((at > bytes.size() || !unfinished_.empty()) &&
                unfinished_.size() + line.size() > kLongestJoined) {
                stopped_ = true; // with no error: the lines from here on are not converted
                std::string().swap(unfinished_);
                return;
            }
            if (at > bytes.size()) { // no break after it: the next piece goes on with it
                unfinished_.append(line);
                return;
            }
            if (unfinished_.empty()) {
                if (!convert(line))
                    return;
                continue;
            }
            unfinished_.append(line);
            const bool good = convert(unfinished_);
            unfinished_.clear();
            if (!good)
                return;
        }
        // The last line needs no break after it.
        if (last && !unfinished_.empty())
            convert(unfinished_);
    } catch (const std::bad_alloc&) {
        failed_ = true;
    }
}
