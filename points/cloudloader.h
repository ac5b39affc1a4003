// The points of a text being loaded, converted beside the load on threads of
// their own as its pieces come in, so that the first frame after a load has
// them at once. Each piece is read once, in place: its lines converted and
// its breaks counted in the same pass.
#pragma once

#include "blocklines.h"
#include "cloudcache.h"
#include "loadtap.h"
#include "pointlinestream.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CloudLoader : public LoadTap
{
public:
    // Starts a thread that runs `work`; raises std::system_error where it
    // cannot, and the load is then converted as it is taken.
    using Launch = std::function<std::thread(std::function<void()> work)>;

    // Converts on up to `threads` threads, one a core unless told.
    explicit CloudLoader(
        char decimalSeparator,
        Launch launch = [](std::function<void()> work) { return std::thread(std::move(work)); },
        unsigned threads = std::max(1u, std::thread::hardware_concurrency()));
    ~CloudLoader() override;
    CloudLoader(const CloudLoader&) = delete;
    CloudLoader& operator=(const CloudLoader&) = delete;

    void Start(std::uint64_t size) override;
    void Take(std::string_view piece, std::uint32_t* counts) override;
    std::uint64_t Done() const override;
    // Complete, and where all went well: the lines as converted
    // (ConvertedLines), holding no more than they need and a place for an
    // empty last line. Out of memory, it gives nothing, and the text's
    // points are converted from the text.
    std::any Finish(bool complete) override;

private:
    // Slices of a piece read as one by one thread.
    struct Block
    {
        const char* begin;
        const char* end;
        const char* pieceEnd;
        std::uint32_t* counts;
        bool afterCr;
    };
    struct Slot
    {
        explicit Slot(char separator) : lines(separator) {}
        BlockLines lines;
        bool read = false;
    };

    void Work();
    // Puts the blocks read in order, from the first not yet put; the
    // caller holds `lock` and `merging_`.
    void MergeRead(std::unique_lock<std::mutex>& lock);
    // A block's lines, of `size` bytes, after those before it.
    void Merge(const BlockLines& lines, std::uint64_t size);
    // The line across blocks ends: false where it is no point.
    bool EndLine();
    void GiveUp();
    // Lets go of everything the load held.
    void Drop();

    const char separator_;
    const Launch launch_;
    const unsigned threads_;
    std::vector<std::thread> workers_;
    bool active_ = false;
    char lastByte_ = 0;      // of the last piece taken
    std::uint64_t size_ = 0; // the load's, as told

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> blocks_;                 // taken, not yet merged
    std::uint64_t firstBlock_ = 0;             // blocks_.front()'s number
    std::uint64_t nextBlock_ = 0;              // the next to read
    std::vector<std::unique_ptr<Slot>> slots_; // by block number, round
    bool merging_ = false;
    bool ended_ = false;                  // no piece will follow
    bool cancelled_ = false;              // nor is any wanted
    std::atomic<bool> gaveUp_ = false;    // out of memory: no point of this load is had
    std::atomic<unsigned> running_ = 0;   // threads that may still touch a piece
    std::atomic<bool> converting_ = true; // no line that is no point met yet
    std::atomic<std::uint64_t> taken_ = 0;
    std::atomic<std::uint64_t> done_ = 0;

    // The merging thread's, one at a time.
    ConvertedLines lines_;
    PointLineStream line_;       // the line across blocks
    std::uint64_t lineSize_ = 0; // bytes of it so far
    bool reserved_ = false;      // room for the points is made
};
