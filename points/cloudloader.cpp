#include "cloudloader.h"

#include <algorithm>
#include <new>
#include <system_error>

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

void CloudLoader::Start(std::uint64_t /*size*/)
{
    Stop();
    afterCr_ = stopped_ = failed_ = ended_ = dropped_ = gaveUp_ = false;
    done_ = 0;
    active_ = true;
    // The thread only makes the load faster: without one, it is converted
    // here as it comes.
    try {
        worker_ = launch_([this] { Work(); });
        threaded_ = worker_.joinable();
    } catch (const std::exception&) {
        threaded_ = false;
    }
}

void CloudLoader::Take(std::string_view piece, std::uint32_t* /*counts*/)
{
    if (!active_)
        return;
    if (!threaded_) {
        Convert(piece, false);
        done_ += piece.size();
        return;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pieces_.size() < kPiecesAhead || gaveUp_; });
    if (gaveUp_)
        return;
    try {
        // A piece's buffer is used again: a new one costs a page fault a page.
        std::string copy;
        if (!spare_.empty()) {
            copy = std::move(spare_.back());
            spare_.pop_back();
        }
        copy.assign(piece);
        pieces_.push_back(std::move(copy));
    } catch (const std::bad_alloc&) {
        gaveUp_ = true;
    }
    changed_.notify_all();
}

std::any CloudLoader::Finish(bool complete)
{
    if (!active_)
        return {};
    active_ = false;
    if (threaded_) {
        {
            const std::lock_guard lock(mutex_);
            ended_ = true;
            dropped_ = !complete;
            changed_.notify_all();
        }
        worker_.join();
    } else if (complete) {
        Complete();
    }
    std::any made;
    if (complete && !failed_ && !gaveUp_)
        made = std::move(lines_);
    Drop();
    return made;
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
    active_ = false;
    Drop();
}

void CloudLoader::Drop()
{
    lines_ = {};
    std::string().swap(unfinished_);
    pieces_ = {};
    spare_ = {};
}

void CloudLoader::Work()
{
    try {
        for (;;) {
            std::string piece;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !pieces_.empty() || ended_ || gaveUp_; });
                if (dropped_ || gaveUp_)
                    return;
                if (pieces_.empty())
                    break;
                piece = std::move(pieces_.front());
                pieces_.pop_front();
                changed_.notify_all();
            }
            Convert(piece, false);
            done_ += piece.size();
            const std::lock_guard lock(mutex_);
            spare_.push_back(std::move(piece));
        }
    } catch (...) {
        // Nothing leaves the thread: the load's points are then converted
        // from the text box, as edits are.
        failed_ = true;
        const std::lock_guard lock(mutex_);
        gaveUp_ = true;
        changed_.notify_all();
        return;
    }
    Complete();
}

void CloudLoader::Complete()
{
    try {
        Convert({}, true);
        // And one point more: the text box counts a line after a last break,
        // which the kept points hold a place for.
        lines_.vertices.Trim(3);
    } catch (...) {
        failed_ = true;
    }
}

void CloudLoader::Convert(std::string_view bytes, bool last)
{
    if (stopped_ || failed_)
        return;
    const auto convert = [this](std::string_view line) {
        float point[3];
        if (ConvertLine(line, scratch_, separator_, point)) {
            lines_.vertices.AppendPoint(point);
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
