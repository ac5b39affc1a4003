// The Qt-free services of the layer: the text box's changes as lines, with
// positions past what an int holds, and the line count of a load.
#include "changelog.h"
#include "linecount.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr std::int64_t G = 1LL << 30;

// A text held as the positions of its LF breaks alone, with a gap where a
// gap buffer leaves it: texts of many GB cost nothing.
struct FakeText : TextLines
{
    FakeText(std::vector<std::int64_t> lfs, std::int64_t bytes)
        : breaks(std::move(lfs)), length(bytes)
    {
    }
    std::int64_t Length() const override { return length; }
    std::int64_t LineCount() const override { return std::ssize(breaks) + 1; }
    std::int64_t LineOf(std::int64_t at) const override
    {
        return std::ranges::lower_bound(breaks, at) - breaks.begin();
    }
    std::int64_t Gap() const override { return gap; }
    // `n` bytes inserted at `at`, their LFs at these offsets, or deleted from it.
    void Edit(std::int64_t at, std::int64_t n, bool deletion, std::vector<std::int64_t> lfs)
    {
        auto from = std::ranges::lower_bound(breaks, at);
        from = breaks.erase(from, deletion ? std::lower_bound(from, breaks.end(), at + n) : from);
        std::for_each(from, breaks.end(), [&](std::int64_t& lf) { lf += deletion ? -n : n; });
        std::ranges::for_each(lfs, [&](std::int64_t& lf) { lf += at; });
        breaks.insert(from, lfs.begin(), lfs.end());
        length += deletion ? -n : n;
        gap = deletion ? at : at + n;
    }
    std::vector<std::int64_t> breaks;
    std::int64_t length, gap = 0;
};

TEST(ChangeLog, MarksTheLinesOfAnEditAnywhereInATextOfAnySize)
{
    // Six lines, of which line 3 begins past 4 GB: LFs at 1 G, 2.5 G, 4.5 G,
    // 5 G and 6 G, and a last line of one byte.
    const std::vector<std::int64_t> breaks = {G, 5 * G / 2, 9 * G / 2, 5 * G, 6 * G};
    const std::int64_t length = 6 * G + 2;
    const struct
    {
        const char* what;
        std::int64_t at, length;
        bool deletion;
        std::vector<std::int64_t> lfs;
        LinesChange change;
        bool gapMoved = false; // as by a read in place: the whole text counts as changed
    } rows[] = {
        {"a line typed before 2 GB", 10, 6, false, {5}, {0, 2, 3}},
        {"a line typed past 2 GB", 3 * G, 6, false, {5}, {1, 3, 4}},
        {"a character past 4 GB", 9 * G / 2 + 10, 1, false, {}, {2, 3, 3}},
        {"a line typed past 4 GB", 23 * G / 5, 2, false, {1}, {2, 3, 4}},
        {"a break deleted past 4 GB", 5 * G, 1, true, {}, {2, 4, 3}},
        {"6 GB deleted from 4 MB on", 4 << 20, 6 * G - (4 << 20), true, {}, {0, 6, 2}},
        {"the whole text deleted", 0, length, true, {}, {0, 6, 1}},
        {"the last byte deleted", length - 1, 1, true, {}, {4, 2, 2}},
        {"a character past 2 GB, the gap moved", 3 * G, 1, false, {}, {0, 6, 6}, true},
    };
    for (const auto& r : rows) {
        FakeText text(breaks, length);
        ChangeLog log(text, {});
        // As the notice hands them over: wrapped to int.
        log.Before(static_cast<std::int32_t>(r.at), static_cast<std::int32_t>(r.length),
                   r.deletion);
        text.Edit(r.at, r.length, r.deletion, r.lfs);
        if (r.gapMoved)
            text.gap = 2;
        const auto changes = log.Take();
        ASSERT_EQ(changes.size(), 1u) << r.what;
        EXPECT_EQ(std::tie(changes[0].first, changes[0].removed, changes[0].added),
                  std::tie(r.change.first, r.change.removed, r.change.added))
            << r.what;
    }
}

TEST(LineCounter, CountsTheLinesTheTextBoxShowsAndRefusesMoreThanAnIntHolds)
{
    const struct
    {
        std::vector<std::string> pieces;
        std::int64_t lines;
    } rows[] = {
        {{}, 0},
        {{"1 2 3"}, 1},
        {{"1\n2\n"}, 2},
        {{"1\r", "\n2\r\n"}, 2},
        {{"\r\r\n\n", "x"}, 4},
        {{"1\r", "\r"}, 2},
    };
    for (const auto& r : rows) {
        LineCounter counter;
        for (const std::string& piece : r.pieces)
            counter.Take(piece);
        EXPECT_EQ(counter.Lines(), r.lines) << ::testing::PrintToString(r.pieces);
    }
    // 2^31 - 1 breaks, then one line more and another.
    const std::string breaks(4 << 20, '\n');
    LineCounter counter;
    for (int i = 0; i < 512; ++i)
        counter.Take(std::string_view(breaks).substr(i == 0));
    EXPECT_FALSE(counter.TooMany());
    counter.Take("1 2 3");
    EXPECT_TRUE(counter.TooMany());
    EXPECT_EQ(counter.Refusal(), "It has 2147483648 lines: at most 2147483647 can be opened.");
}

} // namespace
