#include "cloudcache.h"

#include <algorithm>

void CloudCache::Reset(int lineCount)
{
    vertices_.Assign(static_cast<std::size_t>(lineCount) * 3, 0.0f);
    pending_.clear();
    failed_ = -1;
    if (lineCount > 0)
        pending_.push_back({0, lineCount});
    ++version_;
}

void CloudCache::Replace(int first, int removed, int added)
{
    const int size = static_cast<int>(vertices_.size() / 3);
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

    const int shift = added - removed;
    if (failed_ >= first + removed)
        failed_ += shift;
    else if (failed_ >= first)
        failed_ = -1;
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

void CloudCache::Install(ConvertedLines lines, int lineCount)
{
    const auto good = static_cast<int>(lines.vertices.size() / 3);
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

CloudCache::Progress CloudCache::Update(int lineCount, int count, const LinesIn& linesIn,
                                        char decimalSeparator, int budget)
{
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
        const int end = std::min({span.end, count, span.begin + budget});
        ++version_;
        // One walk through the span's bytes: asking the text for each line
        // on its own costs more than converting it.
        const std::string_view bytes = linesIn(span.begin, end);
        std::size_t at = 0;
        for (; span.begin < end; ++span.begin, --budget) {
            const std::string_view line = NextLine(bytes, at);
            if (!ConvertLine(line, scratch_, decimalSeparator,
                             &vertices_[static_cast<std::size_t>(span.begin) * 3])) {
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

void CloudCache::RaiseBadLine() const
{
    try {
        std::rethrow_exception(error_);
    } catch (Exception& e) {
        e.SetMessage("Line " + std::to_string(failed_ + 1) + ": " + message_);
        throw;
    }
}
