// The text store against a plain string: bytes, lines, each edit's change of
// lines, undo and redo, through random edits anywhere; and a text of more
// than 4 GiB, whose positions no 32 bits hold.
#include "breaks.h"
#include "loadtap.h"
#include "textbuilder.h"
#include "textstore.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The plain reading: where each text line begins, and where it ends before
// its break.
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
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
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

// Whether `change` took `before` to `after`: the lines before it, and those
// after it, are the same in both.
bool Splices(const std::string& before, const std::string& after, const LinesChange& change)
{
    const PlainLines a(before), b(after);
    const auto count = static_cast<std::int64_t>(a.starts.size());
    if (change.first < 0 || change.removed < 0 || change.first + change.removed > count ||
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

std::unique_ptr<TextBlock> Block(std::string_view bytes)
{
    auto block = std::make_unique<TextBlock>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), block->data());
    return block;
}

// A store given `text` as a load gives it: in blocks, some of their slices
// counted by a tap and some left to the store.
void Load(TextStore& store, const std::string& text, std::mt19937& random)
{
    TextBuilder built;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t size = std::min<std::size_t>(text.size() - at, random() % 300000 + 1);
        std::uint32_t* counts = built.Append(Block(std::string_view(text).substr(at, size)), size);
        for (std::size_t s = 0; s * kPieceSize < size; ++s)
            if (random() % 2)
                counts[s] = CountBreaks(text.data() + at + s * kPieceSize,
                                        std::min(kPieceSize, size - s * kPieceSize));
        at += size;
    }
    store.Adopt(std::move(built), 7);
}

// Where two texts first differ, for a short message; npos where they do not.
template <class T> std::size_t Differ(const T& a, const T& b)
{
    const auto [x, y] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return x == a.end() && y == b.end() ? std::string::npos
                                        : static_cast<std::size_t>(x - a.begin());
}

// Everything the store tells of its text, against the plain string.
void ExpectText(const TextStore& store, const std::string& text, const std::string& what)
{
    ASSERT_EQ(Differ(store.Text(0, store.Length()), text), std::string::npos) << what;
    const PlainLines plain(text);
    ASSERT_EQ(store.LineCount(), static_cast<std::int64_t>(plain.starts.size())) << what;
    LineReader reader(store, 0);
    LineReader::Line line{};
    for (std::size_t i = 0; i < plain.starts.size(); ++i) {
        const auto n = static_cast<std::int64_t>(i);
        const auto start = static_cast<std::int64_t>(plain.starts[i]);
        const auto end = static_cast<std::int64_t>(plain.ends[i]);
        ASSERT_TRUE(reader.Next(line)) << what;
        ASSERT_EQ(std::make_pair(line.position, line.length), std::make_pair(start, end - start))
            << what << ", line " << i;
        // Found on their own too, for a sample: each costs a search.
        if (i % (plain.starts.size() / 16 + 1) == 0 || i + 1 == plain.starts.size()) {
            ASSERT_EQ(std::make_pair(store.LineStart(n), store.LineEnd(n)),
                      std::make_pair(start, end))
                << what << ", line " << i;
        }
        if (line.whole) {
            ASSERT_EQ(line.bytes, text.substr(plain.starts[i], plain.ends[i] - plain.starts[i]));
        }
    }
    EXPECT_FALSE(reader.Next(line)) << what;
    for (std::size_t p = 0; p <= text.size(); p += 1 + text.size() / 64)
        ASSERT_EQ(store.LineOf(static_cast<std::int64_t>(p)), plain.LineOf(p))
            << what << " at " << p;
}

TEST(TextStore, KeepsBytesAndLinesAsAPlainStringThroughRandomEditsUndoAndRedo)
{
    std::mt19937 random(20261207);
    const std::string alphabet("\r\n\r\n\r\nab \0\xff", 11);
    const auto bytes = [&](std::size_t size) {
        std::string s(size, ' ');
        for (char& c : s)
            c = alphabet[random() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 6; ++round) {
        TextStore store;
        std::string text = bytes(random() % 3 ? random() % 200000 : random() % 50);
        // Each change, with the text just after it.
        std::vector<std::pair<LinesChange, std::string>> told;
        store.SetListener([&](const LinesChange& change) {
            told.emplace_back(change, store.Text(0, store.Length()));
        });
        Load(store, text, random);
        ExpectText(store, text, "load");
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(std::any_cast<int>(told[0].first.loaded), 7);
        std::vector<std::string> steps{text}; // the text after each step of the history
        std::size_t done = 0;
        bool joinable = false; // a typed run goes on
        std::size_t saved = 0; // the step saved, or npos once it is gone
        for (int edit = 0; edit < 40; ++edit) {
            std::string before = text;
            told.clear();
            const auto kind = random() % 10;
            if (kind == 0 && store.CanUndo()) {
                ASSERT_TRUE(store.Undo());
                text = steps[--done];
                joinable = false;
            } else if (kind == 1 && store.CanRedo()) {
                ASSERT_TRUE(store.Redo());
                text = steps[++done];
                joinable = false;
            } else {
                const auto position = random() % (text.size() + 1);
                const auto length =
                    random() % std::min<std::size_t>(text.size() - position + 1, 3000);
                const std::string put = bytes(random() % 4 ? random() % 4 : random() % 100000);
                const bool join = random() % 2;
                if (kind == 2)
                    store.MarkSaved(), joinable = false, saved = done;
                store.Replace(static_cast<std::int64_t>(position),
                              static_cast<std::int64_t>(length), put, join);
                text.replace(position, length, put);
                steps.resize(done + 1);
                if (saved > done)
                    saved = std::string::npos;
                if (join && joinable)
                    steps[done] = text;
                else
                    steps.push_back(text), ++done;
                joinable = true;
                // The change: from the line the edit begins in to the one it ends in.
                const PlainLines old(before);
                const std::int64_t first = old.LineOf(position);
                ASSERT_EQ(told.size(), length > 0 || !put.empty() ? 1u : 0u);
                if (told.empty())
                    continue;
                const LinesChange& c = told[0].first;
                EXPECT_EQ(
                    std::tie(c.first, c.removed, c.added, c.position),
                    std::make_tuple(first, old.LineOf(position + length) - first + 1,
                                    PlainLines(text).LineOf(position + put.size()) - first + 1,
                                    static_cast<std::int64_t>(position)));
            }
            const std::string what =
                "round " + std::to_string(round) + ", edit " + std::to_string(edit);
            ExpectText(store, text, what);
            EXPECT_EQ(store.Modified(), saved != done) << what;
            // Each change keeps the lines before it and after it as they were.
            for (const auto& [change, after] : told) {
                ASSERT_TRUE(Splices(before, after, change)) << what;
                before = after;
            }
        }
    }
}

TEST(TextStore, EditsPastFourGiBKeepTheirPositionsAndLines)
{
    // 5 GiB of NULs, never written, so that they cost no memory; they hold no
    // line break, as a load's tap would count.
    constexpr std::size_t kSize = std::size_t{5} << 30;
    TextBuilder built;
    std::uint32_t* counts = built.Append(std::make_unique<TextBlock>(kSize), kSize);
    std::fill(counts, counts + kSize / kPieceSize, 0u);
    TextStore store;
    std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>> told;
    store.SetListener(
        [&](const LinesChange& c) { told.emplace_back(c.first, c.removed, c.added); });
    store.Adopt(std::move(built), {});
    const std::int64_t at = (std::int64_t{9} << 29) + 3; // past 4 GiB, inside a piece
    store.Replace(at, 0, "1 2 3\n4 5 6\r\n");
    store.Replace(at + 6, 5, "7");
    store.Replace(store.Length() - 1, 1, "8\r");
    EXPECT_EQ(store.LineCount(), 4);
    EXPECT_EQ(store.Text(store.LineStart(1), store.LineEnd(1) - store.LineStart(1)), "7");
    EXPECT_EQ(std::make_tuple(store.LineStart(2), store.LineOf(at + 8), store.Length()),
              std::make_tuple(at + 9, 1, std::int64_t{kSize} + 10));
    LineReader reader(store, 1);
    LineReader::Line line{};
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(std::make_pair(line.position, std::string(line.bytes)),
              std::make_pair(at + 6, std::string("7")));
    using Told = std::tuple<std::int64_t, std::int64_t, std::int64_t>;
    EXPECT_EQ(told, (std::vector<Told>{{0, 1, 1}, {0, 1, 3}, {1, 1, 1}, {2, 1, 2}}));
    while (store.CanUndo())
        store.Undo();
    EXPECT_EQ(std::make_tuple(store.LineCount(), store.Length(), store.Modified()),
              std::make_tuple(std::int64_t{1}, std::int64_t{kSize}, false));
}

} // namespace
