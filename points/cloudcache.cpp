#include "cloudcache.h"

#include <algorithm>

namespace {

// A line that spans pieces of the text is joined up to this size, and read
// as a stream past it.
constexpr std::int64_t kJoinedAtMost = std::int64_t{1} << 16;
// What a line's budget reads of a long line.
constexpr std::int64_t kBytesPerLine = 256;

} // namespace

void CloudCache::Reset(std::int64_t lineCount)
{
    vertices_.Assign(static_cast<std::size_t>(lineCount) * 3, 0.0f);
    pending_.clear();
    failed_ = streamLine_ = -1;
    if (lineCount > 0)
        pending_.push_back({0, lineCount});
    ++version_;
}

void CloudCache::Replace(std::int64_t first, std::int64_t removed, std::int64_t added)
{
    const std::int64_t size = static_cast<std::int64_t>(vertices_.size() / 3);
    if (first < 0 || removed < 0 || added < 0 || first + removed > size) {
        // Out of step with the text: the next update starts again.
        Reset(0);
        return;
    }
    const auto at = static_cast<std::size_t>(first) * 3;
    if (added > removed)
        vertices_.Insert(at, static_cast<std::size_t>(added - removed) * 3, 0.0f);
    else if (added < removed)
        vertices_.Erase(at, at + static_cast<std::size_t>(removed - added) * 3);

    const std::int64_t shift = added - removed;
    for (std::int64_t* line : {&failed_, &streamLine_}) {
        if (*line >= first + removed)
            *line += shift;
        else if (*line >= first)
            *line = -1;
    }
    std::vector<Span> parts;
    parts.reserve(pending_.size() * 2 + 1);
    parts.push_back({first, first + added});
    for (const Span& s : pending_) {
        // The part before the replaced lines stays, the part after moves.
        parts.push_back({s.begin, std::min(s.end, first)});
        parts.push_back({std::max(s.begin, first + removed) + shift, s.end + shift});
    }
    std::sort(parts.begin(), parts.end(), [](Span a, Span b) { return a.begin < b.begin; });
    std::vector<Span> pending;
    pending.reserve(parts.size());
    for (const Span& part : parts) {
        if (part.begin >= part.end)
            continue;
        if (!pending.empty() && pending.back().end >= part.begin)
            pending.back().end = std::max(pending.back().end, part.end);
        else
            pending.push_back(part);
    }
    pending_ = std::move(pending);
    ++version_;
}

void CloudCache::Install(ConvertedLines lines, std::int64_t lineCount)
{
    const auto good = static_cast<std::int64_t>(lines.vertices.size() / 3);
    if (good > lineCount) {
        Reset(lineCount);
        return;
    }
    vertices_ = std::move(lines.vertices);
    // Grown to the exact size, not by a step.
    vertices_.Reserve(static_cast<std::size_t>(lineCount) * 3);
    vertices_.Resize(static_cast<std::size_t>(lineCount) * 3, 0.0f);
    pending_.clear();
    if (good < lineCount)
        pending_.push_back({good, lineCount});
    failed_ = lines.error ? good : -1;
    streamLine_ = -1;
    error_ = lines.error;
    message_ = std::move(lines.message);
    ++version_;
}

void CloudCache::Apply(std::vector<LinesChange> changes)
{
    for (LinesChange& change : changes) {
        if (auto* loaded = std::any_cast<ConvertedLines>(&change.loaded))
            Install(std::move(*loaded), change.added);
        else
            Replace(change.first, change.removed, change.added);
    }
}

CloudCache::Progress CloudCache::Update(const TextStore& text, std::int64_t count,
                                        char decimalSeparator, std::int64_t budget)
{
    const std::int64_t lineCount = text.LineCount();
    if (!InStep(lineCount, count))
        Reset(lineCount);
    while (!pending_.empty() && pending_.front().begin < count) {
        Span& span = pending_.front();
        // A bad line stays bad until edited; a long one would cost its time
        // every frame.
        if (span.begin == failed_)
            return {failed_, true};
        if (budget <= 0)
            return {span.begin, false};
        const std::int64_t end = std::min({span.end, count, span.begin + budget});
        ++version_;
        // The lines one after another, each found from where the last ended.
        LineReader reader(text, span.begin);
        LineReader::Line read{};
        for (; span.begin < end && reader.Next(read); ++span.begin, --budget) {
            float* const point = &vertices_[static_cast<std::size_t>(span.begin) * 3];
            if (!read.whole && read.length > kJoinedAtMost) {
                if (!Stream(text, span.begin, read, decimalSeparator, budget * kBytesPerLine))
                    return {span.begin, false};
                CloudPoint p{};
                streamLine_ = -1;
                if (stream_->TryPoint(p)) {
                    point[0] = static_cast<float>(p.x);
                    point[1] = static_cast<float>(p.y);
                    point[2] = static_cast<float>(p.z);
                    continue;
                }
                failed_ = span.begin;
                stream_->KeepError(error_, message_);
                return {failed_, true};
            }
            if (!read.whole)
                joined_ = text.Text(read.position, read.length);
            const std::string_view line = read.whole ? read.bytes : joined_;
            if (!ConvertLine(line, scratch_, decimalSeparator, point)) {
                failed_ = span.begin;
                KeepError(line, scratch_, decimalSeparator, error_, message_);
                return {failed_, true};
            }
        }
        if (span.begin == span.end)
            pending_.erase(pending_.begin());
    }
    return {count, true};
}

bool CloudCache::Stream(const TextStore& text, std::int64_t line, const LineReader::Line& read,
                        char decimalSeparator, std::int64_t bytes)
{
    if (streamLine_ != line) {
        stream_.emplace(decimalSeparator);
        streamLine_ = line;
        streamed_ = 0;
    }
    text.Read(read.position + streamed_, std::min(read.length - streamed_, bytes),
              [this](std::string_view fragment) {
                  stream_->Feed(fragment);
                  streamed_ += static_cast<std::int64_t>(fragment.size());
                  return stream_->Wants();
              });
    if (!stream_->Wants())
        return true;
    if (streamed_ < read.length)
        return false;
    stream_->End();
    return true;
}

void CloudCache::RaiseBadLine() const
{
    try {
        std::rethrow_exception(error_);
    } catch (Exception& e) {
        e.SetMessage("Line " + std::to_string(failed_ + 1) + ": " + message_);
        throw;
    }
}
