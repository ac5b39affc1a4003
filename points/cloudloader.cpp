#include "cloudloader.h"

#include "breaks.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace {

// Blocks of a few slices: enough to make a thread's turn cheap, few enough
// for the last to come soon after the load's end.
constexpr std::size_t kBlockSize = 4 * kPieceSize;

} // namespace

CloudLoader::CloudLoader(char decimalSeparator, Launch launch, unsigned threads)
    : separator_(decimalSeparator), launch_(std::move(launch)), threads_(threads),
      line_(decimalSeparator)
{
}

CloudLoader::~CloudLoader()
{
    Finish(false);
}

void CloudLoader::Start(std::uint64_t size)
{
    Finish(false);
    size_ = size;
    reserved_ = false;
    ended_ = cancelled_ = merging_ = false;
    gaveUp_ = false;
    converting_ = true;
    taken_ = done_ = 0;
    firstBlock_ = nextBlock_ = 0;
    lastByte_ = 0;
    lineSize_ = 0;
    line_.Restart();
    active_ = true;
    // Each thread reads a block while the blocks before it may still be
    // read: room for two each, and one to merge.
    slots_.resize(2 * threads_ + 1);
    for (auto& slot : slots_)
        slot = std::make_unique<Slot>(separator_);
    // The threads only make the load faster: without one, it is converted
    // in Take as it comes.
    for (unsigned i = 0; i < threads_; ++i) {
        ++running_;
        try {
            workers_.push_back(launch_([this] { Work(); }));
        } catch (const std::exception&) {
            --running_;
            break;
        }
    }
}

void CloudLoader::Take(std::string_view piece, std::uint32_t* counts)
{
    std::fill(counts, counts + (piece.size() + kPieceSize - 1) / kPieceSize, kUncounted);
    if (!active_ || piece.empty())
        return;
    std::vector<Block> blocks;
    blocks.reserve(piece.size() / kBlockSize + 1);
    const char* const end = piece.data() + piece.size();
    for (std::size_t at = 0; at < piece.size(); at += kBlockSize) {
        blocks.push_back({piece.data() + at, piece.data() + std::min(at + kBlockSize, piece.size()),
                          end, counts + at / kPieceSize,
                          (at == 0 ? lastByte_ : piece[at - 1]) == '\r'});
    }
    lastByte_ = piece.back();
    taken_ += piece.size();
    if (workers_.empty()) {
        BlockLines& lines = slots_.front()->lines;
        for (const Block& block : blocks) {
            if (gaveUp_)
                return;
            try {
                lines.Read(block.begin, block.end, block.pieceEnd, block.afterCr, block.counts,
                           converting_);
                Merge(lines, static_cast<std::uint64_t>(block.end - block.begin));
            } catch (const std::bad_alloc&) {
                GiveUp();
                return;
            }
            done_ += static_cast<std::uint64_t>(block.end - block.begin);
        }
        return;
    }
    const std::lock_guard lock(mutex_);
    blocks_.insert(blocks_.end(), blocks.begin(), blocks.end());
    changed_.notify_all();
}

std::uint64_t CloudLoader::Done() const
{
    // Given up, the load counts what is left, once no thread writes counts.
    if (gaveUp_ && running_ == 0)
        return taken_;
    return done_;
}

std::any CloudLoader::Finish(bool complete)
{
    if (!active_)
        return {};
    active_ = false;
    {
        const std::lock_guard lock(mutex_);
        ended_ = true;
        cancelled_ = !complete;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
    std::any made;
    if (complete && !gaveUp_) {
        try {
            // The last line needs no break after it.
            if (converting_ && lineSize_ > 0)
                EndLine();
            // And one point more: the text counts a line after a last break,
            // which the kept points hold a place for.
            lines_.vertices.Trim(3);
            made = std::move(lines_);
        } catch (const std::bad_alloc&) {
            // Converted from the text instead.
        }
    }
    Drop();
    return made;
}

void CloudLoader::Work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto taken = [this] { return firstBlock_ + blocks_.size(); };
        changed_.wait(lock, [&] {
            return cancelled_ || gaveUp_ || (ended_ && nextBlock_ == taken()) ||
                   (nextBlock_ < taken() && nextBlock_ < firstBlock_ + slots_.size());
        });
        if (cancelled_ || gaveUp_ || nextBlock_ == taken())
            break;
        const std::uint64_t number = nextBlock_++;
        const Block block = blocks_[number - firstBlock_];
        Slot& slot = *slots_[number % slots_.size()];
        const bool convert = converting_;
        lock.unlock();
        try {
            slot.lines.Read(block.begin, block.end, block.pieceEnd, block.afterCr, block.counts,
                            convert);
        } catch (...) { // out of memory: nothing leaves the thread
            lock.lock();
            GiveUp();
            break;
        }
        lock.lock();
        slot.read = true;
        if (!merging_) {
            merging_ = true;
            MergeRead(lock);
            merging_ = false;
        }
    }
    --running_;
    changed_.notify_all();
}

void CloudLoader::MergeRead(std::unique_lock<std::mutex>& lock)
{
    while (!blocks_.empty() && !cancelled_ && !gaveUp_) {
        Slot& slot = *slots_[firstBlock_ % slots_.size()];
        if (!slot.read)
            return;
        const auto size = static_cast<std::uint64_t>(blocks_.front().end - blocks_.front().begin);
        lock.unlock();
        bool merged = true;
        try {
            Merge(slot.lines, size);
        } catch (...) {
            merged = false;
        }
        lock.lock();
        if (!merged) {
            GiveUp();
            return;
        }
        slot.read = false;
        blocks_.pop_front();
        ++firstBlock_;
        done_ += size;
        changed_.notify_all();
    }
}

void CloudLoader::Merge(const BlockLines& lines, std::uint64_t size)
{
    if (!converting_)
        return;
    line_.Feed(lines.Head());
    lineSize_ += lines.Head().size();
    if (!lines.HeadEnds() || !EndLine())
        return;
    if (!reserved_ && lines.PointCount() > 0) {
        // Room for the whole text's points at this block's density, and a
        // quarter more, so that they do not move as they grow: only address
        // space, until written.
        reserved_ = true;
        try {
            lines_.vertices.Reserve(
                static_cast<std::size_t>(static_cast<double>(lines.PointCount()) /
                                         static_cast<double>(size) * 1.25 *
                                         static_cast<double>(size_)) *
                3);
        } catch (const std::bad_alloc&) {
            // Then they grow as they come.
        }
    }
    lines_.vertices.Append(lines.Points(), lines.PointCount() * 3);
    if (lines.Error()) {
        lines_.error = lines.Error();
        lines_.message = lines.Message();
        converting_ = false;
        return;
    }
    line_.Restart();
    line_.Feed(lines.Tail());
    lineSize_ = lines.Tail().size();
}

bool CloudLoader::EndLine()
{
    line_.End();
    CloudPoint point{};
    if (line_.TryPoint(point)) {
        const float xyz[] = {static_cast<float>(point.x), static_cast<float>(point.y),
                             static_cast<float>(point.z)};
        lines_.vertices.AppendPoint(xyz);
        return true;
    }
    line_.KeepError(lines_.error, lines_.message);
    converting_ = false;
    return false;
}

void CloudLoader::GiveUp()
{
    gaveUp_ = true;
    changed_.notify_all();
}

void CloudLoader::Drop()
{
    lines_ = {};
    line_ = PointLineStream(separator_);
    std::deque<Block>().swap(blocks_);
    slots_.clear();
    slots_.shrink_to_fit();
}
