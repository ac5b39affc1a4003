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
class FakeText : public TextLines
{
public:
    FakeText(std::vector<std::int64_t> breaks, std::int64_t length)
        : breaks_(std::move(breaks)), length_(length)
    {
    }
    std::int64_t Length() const override { return length_; }
    std::int64_t LineCount() const override
    {
        return static_cast<std::int64_t>(breaks_.size()) + 1;
    }
    std::int64_t LineOf(std::int64_t position) const override
    {
        return std::lower_bound(breaks_.begin(), breaks_.end(), position) - breaks_.begin();
    }
    std::int64_t Gap() const override { return gap_; }

    // `inserted` bytes at `at`, their LFs at these offsets; or, with
    // deletion, `length` bytes from `at`.
    void Edit(std::int64_t at, std::int64_t length, bool deletion, std::vector<std::int64_t> lfs)
    {
        const auto from = std::lower_bound(breaks_.begin(), breaks_.end(), at);
        if (deletion) {
            const auto to = std::lower_bound(from, breaks_.end(), at + length);
            std::for_each(to, breaks_.end(), [&](std::int64_t& b) { b -= length; });
            breaks_.erase(from, to);
            length_ -= length;
            gap_ = at;
            return;
        }
        std::for_each(from, breaks_.end(), [&](std::int64_t& b) { b += length; });
        for (std::int64_t& lf : lfs)
            lf += at;
        breaks_.insert(std::lower_bound(breaks_.begin(), breaks_.end(), at), lfs.begin(),
                       lfs.end());
        length_ += length;
        gap_ = at + length;
    }
    std::int64_t gap_ = 0;

private:
    std::vector<std::int64_t> breaks_;
    std::int64_t length_;
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
        TLinesChange change;
    } rows[] = {
        {"a line typed before 2 GB", 10, 6, false, {5}, {0, 2, 3}},
        {"a line typed past 2 GB", 3 * G, 6, false, {5}, {1, 3, 4}},
        {"a character past 4 GB", 9 * G / 2 + 10, 1, false, {}, {2, 3, 3}},
        {"a line typed past 4 GB", 23 * G / 5, 2, false, {1}, {2, 3, 4}},
        {"a break deleted past 4 GB", 5 * G, 1, true, {}, {2, 4, 3}},
        {"6 GB deleted from 4 MB on", 4 << 20, 6 * G - (4 << 20), true, {}, {0, 6, 2}},
        {"the whole text deleted", 0, length, true, {}, {0, 6, 1}},
        {"the last byte deleted", length - 1, 1, true, {}, {4, 2, 2}},
    };
    for (const auto& r : rows) {
        FakeText text(breaks, length);
        int heard = 0;
        ChangeLog log(text, [&](const TLinesChange&) { ++heard; });
        // As the notice hands them over: wrapped to int.
        log.Before(static_cast<std::int32_t>(r.at), static_cast<std::int32_t>(r.length),
                   r.deletion);
        text.Edit(r.at, r.length, r.deletion, r.lfs);
        const auto changes = log.Take();
        ASSERT_EQ(changes.size(), 1u) << r.what;
        EXPECT_EQ(heard, 1) << r.what;
        EXPECT_EQ(std::tie(changes[0].first, changes[0].removed, changes[0].added),
                  std::tie(r.change.first, r.change.removed, r.change.added))
            << r.what;
    }
    // A gap that does not tell the change, as where something moved it: the
    // whole text is taken as changed.
    FakeText text(breaks, length);
    ChangeLog log(text, {});
    log.Before(static_cast<std::int32_t>(3 * G), 1, false);
    text.Edit(3 * G, 1, false, {});
    text.gap_ = 2;
    const auto whole = log.Take().at(0);
    EXPECT_EQ(std::tie(whole.first, whole.removed, whole.added), std::tuple(0, 6, 6));
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
