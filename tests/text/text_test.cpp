// The text store against a plain string: bytes, lines, each edit's change of
// lines, undo and redo, through random edits anywhere; and a text of more
// than 4 GiB, whose positions no 32 bits hold.
#include "loadtap.h"
#include "plaintext.h"

#include <gtest/gtest.h>

#include <random>

namespace {

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
        PlainEdits edits;
        const std::string text = bytes(random() % 3 ? random() % 200000 : random() % 50);
        ASSERT_EQ(edits.Load(
                      text, [&](std::size_t) { return random() % 300000; },
                      [&] { return random() % 2 == 0; }),
                  "");
        for (int edit = 0; edit < 40; ++edit) {
            const auto kind = random() % 10;
            const std::size_t size = edits.Text().size();
            const auto position = random() % (size + 1);
            if (kind == 2)
                edits.MarkSaved();
            const std::string wrong =
                kind == 0 ? edits.Undo()
                : kind == 1
                    ? edits.Redo()
                    : edits.Replace(
                          position, random() % std::min<std::size_t>(size - position + 1, 3000),
                          bytes(random() % 4 ? random() % 4 : random() % 100000), random() % 2);
            ASSERT_EQ(wrong, "") << "round " << round << ", edit " << edit;
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
