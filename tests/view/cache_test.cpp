// The view's kept points against a full pass over the current lines, after
// every step of long random edit sequences made through the text box itself.
#include "cloudcache.h"
#include "controls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

struct FullPass
{
    int good = 0;
    std::vector<float> vertices;
};

FullPass PassOver(const TStrings& lines)
{
    FullPass pass;
    TStringList scratch;
    for (; pass.good < lines.Count(); ++pass.good) {
        try {
            const CloudPoint p = ParsePointLine(lines.View(pass.good), scratch, '.');
            pass.vertices.insert(
                pass.vertices.end(),
                {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
        } catch (const Exception&) {
            break;
        }
    }
    return pass;
}

class Editor
{
public:
    explicit Editor(unsigned seed) : random_(seed)
    {
        memo_.Lines->OnChange = [this](int first, int removed, int added) {
            cache_.Replace(first, removed, added);
        };
    }

    std::string Piece()
    {
        // Mostly points, with the characters that make lines bad or split them.
        static const std::vector<std::string> pieces = {"1 2 3\n",  "-4.5 6e1 7\r\n",
                                                        "8,9,10\r", "\n",
                                                        "\r",       "\r\n",
                                                        " ",        "5",
                                                        ".",        "e",
                                                        "x",        "\t",
                                                        ",",        "1 2"};
        std::string text;
        const int parts = Pick(1, 6);
        for (int i = 0; i < parts; ++i)
            text += pieces[static_cast<std::size_t>(Pick(0, static_cast<int>(pieces.size()) - 1))];
        return text;
    }

    void Step()
    {
        TStrings& lines = *memo_.Lines;
        const long length = memo_.SendScintilla(QsciScintillaBase::SCI_GETLENGTH);
        const int lineCount = lines.TextLineCount();
        const auto lineStart = [this](int line) {
            return static_cast<unsigned long>(memo_.SendScintilla(
                QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line)));
        };
        const int what = Pick(0, 19);
        if (what < 8) { // pasting whole points at the start of a line
            std::string text;
            for (int i = Pick(1, 5); i > 0; --i)
                text += Pick(0, 1) ? "1 2 3\n" : "-4.5 6e1 7\r\n";
            memo_.SendScintilla(QsciScintillaBase::SCI_INSERTTEXT,
                                lineStart(Pick(0, lineCount - 1)), text.c_str());
        } else if (what < 11) { // typing a few characters anywhere
            memo_.SendScintilla(QsciScintillaBase::SCI_INSERTTEXT,
                                static_cast<unsigned long>(Pick(0, static_cast<int>(length))),
                                Piece().c_str());
        } else if (what < 14) { // deleting the first line that is not a point, as a user mends it
            const int bad = PassOver(lines).good;
            if (bad < lines.Count()) {
                const unsigned long from = lineStart(bad);
                memo_.SendScintilla(QsciScintillaBase::SCI_DELETERANGE, from,
                                    static_cast<long>(lineStart(bad + 1) - from));
            }
        } else if (what < 17) { // deleting a few characters anywhere
            if (length > 0) {
                const int at = Pick(0, static_cast<int>(length) - 1);
                const int size = Pick(1, std::min(static_cast<int>(length) - at, 3));
                memo_.SendScintilla(QsciScintillaBase::SCI_DELETERANGE,
                                    static_cast<unsigned long>(at), static_cast<long>(size));
            }
        } else if (what < 19) { // undo, and now and then redo
            memo_.SendScintilla(Pick(0, 2) ? QsciScintillaBase::SCI_UNDO
                                           : QsciScintillaBase::SCI_REDO);
        } else { // replacing the whole text, directly or by loading a file
            std::string text;
            for (int i = Pick(0, 30); i > 0; --i)
                text += Pick(0, 9) ? "1 2 3\n" : Piece();
            if (Pick(0, 1)) {
                lines.SetText(text);
            } else {
                const auto path = std::filesystem::temp_directory_path() / "vost-cache-test.xyz";
                std::ofstream(path, std::ios::binary) << text;
                lines.LoadFromFile(path.string());
            }
        }
    }

    void CheckFrame(int step)
    {
        const TStrings& lines = *memo_.Lines;
        const int good = cache_.Update(
            lines.TextLineCount(), lines.Count(),
            [&lines](int b, int e) { return lines.Range(b, e); }, '.');
        const FullPass pass = PassOver(lines);
        ASSERT_EQ(good, pass.good) << "step " << step << " text '" << lines.Text() << "'";
        const std::vector<float> kept(cache_.Vertices().begin(),
                                      cache_.Vertices().begin() +
                                          static_cast<std::ptrdiff_t>(good) * 3);
        ASSERT_EQ(kept, pass.vertices) << "step " << step << " text '" << lines.Text() << "'";
        // Another frame with no edit converts nothing again.
        const unsigned failures = cache_.Failures();
        ASSERT_EQ(cache_.Update(
                      lines.TextLineCount(), lines.Count(),
                      [&lines](int b, int e) { return lines.Range(b, e); }, '.'),
                  good);
        ASSERT_EQ(cache_.Failures(), failures) << "step " << step << ": a bad line converted again";
        // The view keeps a bad line's error while no new failure is counted.
        const std::string bad = good < lines.Count() ? lines.Strings(good) : "";
        if (good < lines.Count() && cache_.Failures() == failures_) {
            ASSERT_EQ(bad, bad_) << "step " << step << ": a changed bad line not counted";
        }
        failures_ = cache_.Failures();
        bad_ = bad;
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    std::mt19937 random_;
    TMemo memo_;
    CloudCache cache_;
    unsigned failures_ = 0;
    std::string bad_;
};

TEST(KeptPoints, EqualAFullPassThroughRandomEdits)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        Editor editor(seed);
        for (int step = 0; step < 400; ++step) {
            editor.Step();
            // Frames come after one edit or after several.
            if (step % 3 != 1) {
                ASSERT_NO_FATAL_FAILURE(editor.CheckFrame(step)) << "seed " << seed;
            }
        }
    }
}

} // namespace
