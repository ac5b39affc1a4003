// The text store against a plain string read byte by byte: every edit, undo
// and load applied to both, and each told difference, for the store's test
// and its fuzz target alike.
#pragma once

#include "breaks.h"
#include "textbuilder.h"
#include "textstore.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

// Where each text line begins, and where it ends before its break.
struct PlainLines
{
    std::vector<std::size_t> starts{0};
    std::vector<std::size_t> ends;
    explicit PlainLines(const std::string& text)
    {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\r' && text[i] != '\n')
                continue;
            ends.push_back(i);
            i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
            starts.push_back(i + 1);
        }
        ends.push_back(text.size());
    }
    std::int64_t LineOf(std::size_t position) const
    {
        return std::upper_bound(starts.begin(), starts.end(), position) - starts.begin() - 1;
    }
    std::string_view Line(std::string_view text, std::int64_t i) const
    {
        const auto n = static_cast<std::size_t>(i);
        return text.substr(starts[n], ends[n] - starts[n]);
    }
};

class PlainEdits
{
public:
    PlainEdits()
    {
        store_.SetListener([this](const LinesChange& change) {
            told_.push_back({change, store_.Text(0, store_.Length())});
        });
    }

    const TextStore& Store() const { return store_; }
    const std::string& Text() const { return text_; }

    // The text loaded in blocks cut where `cut` says, a tap counting the
    // slices `counted` picks and the store the rest.
    std::string Load(const std::string& text, const std::function<std::size_t(std::size_t)>& cut,
                     const std::function<bool()>& counted)
    {
        TextBuilder built;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t size =
                std::clamp<std::size_t>(cut(text.size() - at), 1, text.size() - at);
            auto block = std::make_unique<TextBlock>(size);
            std::copy_n(text.data() + at, size, block->data());
            std::uint32_t* counts = built.Append(std::move(block), size);
            for (std::size_t s = 0; s * kPieceSize < size; ++s)
                if (counted())
                    counts[s] = CountBreaks(text.data() + at + s * kPieceSize,
                                            std::min(kPieceSize, size - s * kPieceSize));
            at += size;
        }
        store_.Adopt(std::move(built), 7);
        text_ = text;
        steps_ = {text};
        done_ = saved_ = 0;
        joinable_ = false;
        const LinesChange& change = told_.back().first;
        if (told_.size() != 1 || change.first != 0 || std::any_cast<int>(change.loaded) != 7)
            return "a load not told as such";
        return Check(0, 0, 0);
    }

    std::string Replace(std::size_t position, std::size_t length, const std::string& put, bool join)
    {
        position = std::min(position, text_.size());
        length = std::min(length, text_.size() - position);
        if (length == 0 && put.empty()) {
            store_.Replace(static_cast<std::int64_t>(position), 0, {}, join);
            return told_.empty() ? Check(0, 0, 0) : "an edit of nothing told";
        }
        store_.Replace(static_cast<std::int64_t>(position), static_cast<std::int64_t>(length), put,
                       join);
        text_.replace(position, length, put);
        steps_.resize(done_ + 1);
        if (saved_ > done_)
            saved_ = std::string::npos; // undone, and gone with the new step
        if (join && joinable_)
            steps_[done_] = text_;
        else
            steps_.push_back(text_), ++done_;
        joinable_ = true;
        return Check(position, length, put.size());
    }

    std::string Undo()
    {
        const bool can = done_ > 0;
        if (store_.Undo().has_value() != can)
            return "undo";
        if (can)
            text_ = steps_[--done_];
        joinable_ = false;
        return Check(0, 0, 0);
    }

    std::string Redo()
    {
        const bool can = done_ + 1 < steps_.size();
        if (store_.Redo().has_value() != can)
            return "redo";
        if (can)
            text_ = steps_[++done_];
        joinable_ = false;
        return Check(0, 0, 0);
    }

    void MarkSaved()
    {
        store_.MarkSaved();
        saved_ = done_;
        joinable_ = false;
    }

private:
    // The store against the string, and each change told since the last
    // check: the lines before and after it kept, and, for one edit of
    // `length` bytes at `position` by `put`, the lines from the one it begins
    // in to the one it ends in.
    std::string Check(std::size_t position, std::size_t length, std::size_t put)
    {
        const auto told = std::exchange(told_, {});
        std::string before = before_;
        before_ = text_;
        if (store_.Text(0, store_.Length()) != text_)
            return "the text";
        if (store_.Modified() != (saved_ != done_))
            return "whether it is modified";
        const PlainLines plain(text_);
        if (store_.LineCount() != static_cast<std::int64_t>(plain.starts.size()))
            return "the line count";
        LineReader reader(store_, 0);
        LineReader::Line line{};
        for (std::size_t i = 0; i < plain.starts.size(); ++i) {
            const auto n = static_cast<std::int64_t>(i);
            const auto start = static_cast<std::int64_t>(plain.starts[i]);
            const auto end = static_cast<std::int64_t>(plain.ends[i]);
            if (!reader.Next(line) || line.position != start || line.length != end - start ||
                (line.whole && line.bytes != plain.Line(text_, n)))
                return "line " + std::to_string(i) + " read in turn";
            // Found on their own too, for a sample: each costs a search.
            if ((i % (plain.starts.size() / 16 + 1) == 0 || i + 1 == plain.starts.size()) &&
                (store_.LineStart(n) != start || store_.LineEnd(n) != end))
                return "line " + std::to_string(i) + " found";
        }
        if (reader.Next(line))
            return "a line past the last";
        for (std::size_t p = 0; p <= text_.size(); p += 1 + text_.size() / 64)
            if (store_.LineOf(static_cast<std::int64_t>(p)) != plain.LineOf(p))
                return "the line of position " + std::to_string(p);
        if (put > 0 || length > 0) {
            const PlainLines old(before);
            const std::int64_t first = old.LineOf(position);
            if (told.size() != 1 || told[0].first.first != first ||
                told[0].first.position != static_cast<std::int64_t>(position) ||
                told[0].first.removed != old.LineOf(position + length) - first + 1 ||
                told[0].first.added != plain.LineOf(position + put) - first + 1)
                return "the lines an edit told";
        }
        for (const auto& [change, after] : told) {
            if (!Splices(before, after, change))
                return "a change of lines";
            before = after;
        }
        return {};
    }

    // Whether `change` took `before` to `after`: the lines before it, and
    // those after it, are the same in both.
    static bool Splices(const std::string& before, const std::string& after,
                        const LinesChange& change)
    {
        const PlainLines a(before), b(after);
        const auto count = static_cast<std::int64_t>(a.starts.size());
        if (change.first < 0 || change.removed < 1 || change.first + change.removed > count ||
            count - change.removed + change.added != static_cast<std::int64_t>(b.starts.size()))
            return false;
        for (std::int64_t i = 0; i < count; ++i)
            if (i < change.first
                    ? a.Line(before, i) != b.Line(after, i)
                    : i >= change.first + change.removed &&
                          a.Line(before, i) != b.Line(after, i - change.removed + change.added))
                return false;
        return true;
    }

    TextStore store_;
    std::string text_;
    std::string before_;                                    // at the last check
    std::vector<std::pair<LinesChange, std::string>> told_; // with the text just after each
    std::vector<std::string> steps_{""}; // the text after each step of the history
    std::size_t done_ = 0;
    std::size_t saved_ = 0; // the step saved, or npos once it is gone
    bool joinable_ = false; // a typed run goes on
};
