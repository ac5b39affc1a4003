// The kept points against a full pass over the current lines, through random
// edits, undo, redo and loads of the text store, converted a few lines a frame.
#include "cloudcache.h"
#include "cloudloader.h"
#include "textbuilder.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace {

// The lines the points come from, read plainly from the text's bytes: a last
// empty line after a final break is no point line.
std::vector<std::string> PointLines(const std::string& text)
{
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            lines.back() += text[i];
            continue;
        }
        i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        lines.emplace_back();
    }
    if (lines.back().empty())
        lines.pop_back();
    return lines;
}

// The points up to the first bad line, and the message it raises.
std::pair<std::vector<float>, std::string> FullPass(const std::string& text)
{
    std::pair<std::vector<float>, std::string> pass;
    TStringList scratch;
    float point[3];
    const std::vector<std::string> lines = PointLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!ConvertLine(lines[i], scratch, '.', point)) {
            try {
                ParsePointLine(lines[i], scratch, '.');
            } catch (const Exception& e) {
                pass.second = "Line " + std::to_string(i + 1) + ": " + e.Message();
            }
            break;
        }
        pass.first.insert(pass.first.end(), point, point + 3);
    }
    return pass;
}

// The whole text replaced as a file load does it: in blocks handed to the
// tap, then put in place with what it made of them.
void Load(TextStore& text, LoadTap& tap, const std::string& bytes, std::size_t piece)
{
    TextBuilder built;
    tap.Start(bytes.size());
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::size_t size = std::min(piece, bytes.size() - at);
        auto block = std::make_unique<TextBlock>(size);
        std::copy_n(bytes.data() + at, size, block->data());
        const char* const kept = block->data();
        tap.Take({kept, size}, built.Append(std::move(block), size));
    }
    while (tap.Done() < bytes.size())
        std::this_thread::yield();
    text.Adopt(std::move(built), tap.Finish(true));
}

TEST(KeptPoints, EqualAFullPassThroughRandomEditsAndLoads)
{
    const std::string pieces[] = {"1 2 3\n", "-4.5 6e1 7\r\n", "8,9,10\r", "\n", "\r", "\r\n", " 5",
                                  ".e",      "x\t,",           "1 2"};
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&random](std::int64_t high) {
            return std::uniform_int_distribution<std::int64_t>(0, high)(random);
        };
        // A few pieces, or, as a file, up to 30 lines mostly points.
        const auto some = [&](bool file) {
            std::string text;
            for (auto i = file ? pick(30) : pick(5) + 1; i > 0; --i)
                text += file && pick(9) ? pieces[0] : pieces[pick(std::size(pieces) - 1)];
            return text;
        };
        TextStore text;
        std::vector<LinesChange> changes;
        text.SetListener([&changes](const LinesChange& change) { changes.push_back(change); });
        CloudCache cache;
        CloudLoader loader('.');
        // A load whose first line spans pieces and is too long to join: a
        // point, or one whose long field, no number, is read a few hundred
        // bytes a frame.
        if (seed <= 2)
            Load(text, loader,
                 (seed == 1 ? "1 2 3" + std::string(5 << 20, ' ')
                            : "1 2 " + std::string(300000, 'x')) +
                     "\n4 5 6\n",
                 seed == 1 ? 1 << 20 : 100000);
        for (int step = 0; step < 300; ++step) {
            const std::string bytes = text.Text(0, text.Length());
            const auto bad = static_cast<std::int64_t>(FullPass(bytes).first.size() / 3);
            // The long first line edited first, to be converted again.
            switch (step == 0 && seed <= 2 ? 6 : pick(5)) {
            case 6:
                text.Replace(0, 0, "9");
                break;
            case 0: // a few pieces typed at the start of a line, or anywhere
            case 1:
                text.Replace(pick(1) ? text.LineStart(pick(text.LineCount() - 1))
                                     : pick(text.Length()),
                             0, some(false));
                break;
            case 2: // the first bad line deleted with its break, as a user mends it
                if (bad < text.LineCount())
                    text.Replace(text.LineStart(bad), text.LineStart(bad + 1) - text.LineStart(bad),
                                 {});
                break;
            case 3: // a few characters deleted anywhere
                if (text.Length() > 0) {
                    const auto from = pick(text.Length() - 1);
                    text.Replace(from, std::min(text.Length() - from, pick(2) + 1), {});
                }
                break;
            case 4: // undo, now and then redo
                pick(2) ? text.Undo() : text.Redo();
                break;
            default: // the whole text replaced by a load
                Load(text, loader, some(true), static_cast<std::size_t>(pick(7) + 1));
            }
            if (step % 3 == 1)
                continue; // frames come after one edit or after several
            cache.Apply(std::exchange(changes, {}));
            const std::string now = text.Text(0, text.Length());
            const auto [vertices, message] = FullPass(now);
            // A few lines a frame, until all are converted.
            const auto count = static_cast<std::int64_t>(PointLines(now).size());
            CloudCache::Progress progress{};
            while (!(progress = cache.Update(text, count, '.', pick(8) + 1)).complete) {
            }
            std::string kept;
            try {
                if (!message.empty())
                    cache.RaiseBadLine();
            } catch (const Exception& e) {
                kept = e.Message();
            }
            const auto good = static_cast<std::int64_t>(vertices.size() / 3);
            ASSERT_EQ(std::tie(progress.good, kept), std::tie(good, message))
                << "seed " << seed << " step " << step;
            ASSERT_EQ(std::vector(cache.Vertices().begin(), cache.Vertices().begin() + good * 3),
                      vertices)
                << "seed " << seed << " step " << step;
        }
    }
}

} // namespace
