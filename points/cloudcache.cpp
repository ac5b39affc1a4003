#include "cloudcache.h"

#include <algorithm>

void CloudCache::Reset(int lineCount)
{
    vertices_.assign(static_cast<std::size_t>(lineCount) * 3, 0.0f);
    pending_.clear();
    failed_ = -1;
    if (lineCount > 0)
        pending_.push_back({0, lineCount});
    changedBegin_ = 0;
    changedEnd_ = lineCount;
}

void CloudCache::Replace(int first, int removed, int added)
{
    const int size = static_cast<int>(vertices_.size() / 3);
    if (first < 0 || removed < 0 || added < 0 || first + removed > size) {
        // Out of step with the text: the next update starts again.
        Reset(0);
        return;
    }
    const auto at = vertices_.begin() + static_cast<std::ptrdiff_t>(first) * 3;
    if (added > removed)
        vertices_.insert(at, static_cast<std::size_t>(added - removed) * 3, 0.0f);
    else if (added < removed)
        vertices_.erase(at, at + static_cast<std::ptrdiff_t>(removed - added) * 3);

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
    MarkChanged(first, shift == 0 ? first + added : size + shift);
}

int CloudCache::Update(int lineCount, int count, const LinesIn& linesIn, char decimalSeparator)
{
    if (static_cast<int>(vertices_.size() / 3) != lineCount || count > lineCount)
        Reset(lineCount);
    while (!pending_.empty() && pending_.front().begin < count) {
        Span& span = pending_.front();
        const int end = std::min(span.end, count);
        // A bad line stays bad until edited; a long one would cost its time
        // every frame.
        if (span.begin == failed_)
            return failed_;
        // One walk through the span's bytes: asking the text for each line
        // on its own costs more than converting it.
        const std::string_view bytes = linesIn(span.begin, end);
        std::size_t at = 0;
        for (; span.begin < end; ++span.begin) {
            if (span.begin == failed_)
                return failed_;
            std::size_t stop = at;
            while (stop < bytes.size() && bytes[stop] != '\n' && bytes[stop] != '\r')
                ++stop;
            const std::string_view line = bytes.substr(at, stop - at);
            at =
                stop +
                (stop + 1 < bytes.size() && bytes[stop] == '\r' && bytes[stop + 1] == '\n' ? 2 : 1);
            CloudPoint p{};
            if (!TryParsePointLine(line, scratch_, decimalSeparator, p)) {
                failed_ = span.begin;
                KeepError(line, decimalSeparator);
                return failed_;
            }
            float* v = &vertices_[static_cast<std::size_t>(span.begin) * 3];
            v[0] = static_cast<float>(p.x);
            v[1] = static_cast<float>(p.y);
            v[2] = static_cast<float>(p.z);
            MarkChanged(span.begin, span.begin + 1);
        }
        if (span.begin < span.end)
            break; // the rest lies beyond the point lines
        pending_.erase(pending_.begin());
    }
    return count;
}

void CloudCache::KeepError(std::string_view line, char decimalSeparator)
{
    try {
        ParsePointLine(line, scratch_, decimalSeparator);
        throw Exception("not a point"); // the two parses disagree
    } catch (const Exception& e) {
        error_ = std::current_exception();
        message_ = e.Message();
    }
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

void CloudCache::MarkChanged(int begin, int end)
{
    if (changedBegin_ >= changedEnd_) {
        changedBegin_ = begin;
        changedEnd_ = end;
        return;
    }
    changedBegin_ = std::min(changedBegin_, begin);
    changedEnd_ = std::max(changedEnd_, end);
}

std::pair<int, int> CloudCache::TakeChanged()
{
    const int size = static_cast<int>(vertices_.size() / 3);
    const std::pair<int, int> changed{std::min(changedBegin_, size), std::min(changedEnd_, size)};
    changedBegin_ = changedEnd_ = 0;
    return changed;
}
