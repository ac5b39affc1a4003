// The points of a text being loaded, converted on a thread of their own while
// the text box fills, so that the first frame after a load has them at once.
#pragma once

#include "cloudcache.h"
#include "loadtap.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CloudLoader : public LoadTap
{
public:
    // Starts a thread that runs `work`; raises std::system_error where it
    // cannot, and the load is then converted as it is taken.
    using Launch = std::function<std::thread(std::function<void()> work)>;

    explicit CloudLoader(
        char decimalSeparator,
        Launch launch = [](std::function<void()> work) { return std::thread(std::move(work)); })
        : separator_(decimalSeparator), launch_(std::move(launch))
    {
    }
    ~CloudLoader() override;
    CloudLoader(const CloudLoader&) = delete;
    CloudLoader& operator=(const CloudLoader&) = delete;

    void Start(std::uint64_t size) override;
    void Take(std::string_view piece, std::uint32_t* counts) override;
    std::uint64_t Done() const override { return done_; }
    // Complete, and where all went well: the lines as converted
    // (ConvertedLines), holding no more than they need and a place for an
    // empty last line.
    std::any Finish(bool complete) override;

private:
    void Work();
    void Stop();
    // Converts the whole lines of `bytes`, keeping an unfinished one for later.
    void Convert(std::string_view bytes, bool last);
    // The last line, and the points trimmed to their size; a failure only
    // leaves the load's points to be converted from the text box.
    void Complete();
    // Lets go of everything the load held.
    void Drop();

    const char separator_;
    const Launch launch_;
    std::thread worker_;
    bool threaded_ = false;
    bool active_ = false; // a load is under way
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> pieces_; // taken, not yet converted
    std::vector<std::string> spare_; // converted, to take the next ones
    bool ended_ = false;             // no piece will follow
    bool dropped_ = false;           // nor is any wanted
    bool gaveUp_ = false;            // out of memory: no point of this load is had from here
    // The worker's own, until it is joined.
    ConvertedLines lines_;
    std::string unfinished_; // a line across pieces
    bool afterCr_ = false;   // the last piece ended in CR: an LF now is part of that break
    bool stopped_ = false;   // a line that is no point was met
    bool failed_ = false;    // out of memory: convert as edits are
    TStringList scratch_;
    std::atomic<std::uint64_t> done_ = 0;
};
