// The view as the user sees it: where the points land, how the keys turn
// them, what a line that is not a point does, and the kept points against a
// full pass through long random edits.
#include "program.h"

#include <GL/gl.h>

#include <array>
#include <cmath>
#include <limits>
#include <malloc.h>
#include <random>

namespace {

struct Frame
{
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;
    std::vector<float> depth;

    // Red pixels as (column, row from the top).
    std::vector<std::pair<int, int>> Reds() const
    {
        std::vector<std::pair<int, int>> reds;
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x) {
                const unsigned char* p =
                    &rgba[static_cast<std::size_t>((height - 1 - row) * width + x) * 4];
                if (p[0] == 255 && p[1] == 0 && p[2] == 0)
                    reds.emplace_back(x, row);
                else if (p[0] + p[1] + p[2] != 0)
                    reds.emplace_back(-1, -1); // neither red nor black
            }
        return reds;
    }
    float DepthAt(std::pair<int, int> at) const
    {
        return depth[static_cast<std::size_t>((height - 1 - at.second) * width + at.first)];
    }
};

void ShowViewSized(int width, int height)
{
    View()->Show();
    View()->resize(width, height);
    // The GL buffers follow the X window, which the server sizes a moment later.
    ASSERT_TRUE(WaitFor([&] {
        const QWindow* surface = View()->GLClient();
        return View()->ViewW == static_cast<float>(width) && surface->isExposed() &&
               surface->width() == width && surface->height() == height;
    }));
}

void SetPoints(std::string_view text)
{
    LoadText(*control_Form->Memo1, text);
}

// Draws one frame as the idle handler does and reads it back before the swap.
Frame Render()
{
    View()->DrawFrame();
    Frame frame;
    frame.width = View()->ClientWidth();
    frame.height = View()->ClientHeight();
    frame.rgba.resize(static_cast<std::size_t>(frame.width * frame.height) * 4);
    frame.depth.resize(static_cast<std::size_t>(frame.width * frame.height));
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, frame.width, frame.height, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
    glReadPixels(0, 0, frame.width, frame.height, GL_DEPTH_COMPONENT, GL_FLOAT, frame.depth.data());
    return frame;
}

// What the frame of `text` shows.
std::vector<std::pair<int, int>> RedsOf(std::string_view text)
{
    SetPoints(text);
    return Render().Reds();
}

// Red pixels each within a pixel and a half of where they belong, in order.
void ExpectRedsAt(const std::vector<std::pair<int, int>>& reds,
                  const std::vector<std::pair<double, double>>& expected)
{
    ASSERT_EQ(reds.size(), expected.size());
    for (std::size_t i = 0; i < reds.size(); ++i) {
        EXPECT_NEAR(reds[i].first, expected[i].first, 1.5) << "point " << i;
        EXPECT_NEAR(reds[i].second, expected[i].second, 1.5) << "point " << i;
    }
}

using Matrix = std::array<double, 16>; // column-major, as GL keeps it

Matrix Get(GLenum which)
{
    std::array<float, 16> m{};
    glGetFloatv(which, m.data());
    Matrix out{};
    std::copy(m.begin(), m.end(), out.begin());
    return out;
}

constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix Product(const Matrix& a, const Matrix& b)
{
    Matrix out{};
    for (std::size_t column = 0; column < 4; ++column)
        for (std::size_t row = 0; row < 4; ++row)
            for (std::size_t k = 0; k < 4; ++k)
                out[column * 4 + row] += a[k * 4 + row] * b[column * 4 + k];
    return out;
}

// glRotate's matrix for a turn about the x axis (axis 1) or the y axis (0).
Matrix Rotation(double degrees, int axis)
{
    const double c = std::cos(degrees * M_PI / 180);
    const double s = std::sin(degrees * M_PI / 180);
    if (axis == 1)
        return {1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1};
    return {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1};
}

double Distance(const Matrix& a, const Matrix& b)
{
    double worst = 0;
    for (std::size_t i = 0; i < 16; ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(View()->GLClient(), key, modifiers);
}

class ViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ShowViewSized(400, 400);
        CloseReport();
    }
};

TEST_F(ViewTest, ContextStaysCurrentThroughHidingAndShowing)
{
    ASSERT_NE(View()->GLRC, nullptr);
    const HGLRC context = View()->GLRC;
    const HDC dc = View()->DC;
    View()->close();
    EXPECT_FALSE(View()->isVisible());
    control_Form->Button1->click();
    EXPECT_TRUE(View()->isVisible());
    EXPECT_EQ(View()->GLRC, context);
    EXPECT_EQ(View()->DC, dc);
    EXPECT_EQ(QOpenGLContext::currentContext(), context);
}

TEST_F(ViewTest, ProjectionKeepsTheShorterSideAtFiftyAndClipsBeyond)
{
    EXPECT_TRUE(RedsOf("").empty()) << "an empty text draws black";
    const struct
    {
        int width, height;
        float halfX, halfY;
    } cases[] = {{400, 200, 100, 50}, {200, 400, 50, 100}, {300, 300, 50, 50}};
    for (const auto& c : cases) {
        ShowViewSized(c.width, c.height);
        for (const auto& [x, y] : {std::pair{0.f, 0.f},
                                   {0.9f * c.halfX, 0.f},
                                   {-0.9f * c.halfX, 0.f},
                                   {0.f, 0.9f * c.halfY},
                                   {0.f, -0.9f * c.halfY}}) {
            ExpectRedsAt(RedsOf(std::to_string(x) + " " + std::to_string(y) + " 49"),
                         {{(x / c.halfX + 1) / 2 * static_cast<float>(c.width),
                           (1 - y / c.halfY) / 2 * static_cast<float>(c.height)}});
        }
        EXPECT_TRUE(RedsOf(std::to_string(1.02f * c.halfX) + " 0 0\n0 " +
                           std::to_string(-1.02f * c.halfY) + " 0\n0 0 51\n0 0 -51")
                        .empty())
            << c.width << "x" << c.height;
    }
}

TEST_F(ViewTest, ZeroSizedClientAreaDoesNotDivideByZero)
{
    const struct
    {
        int width, height;
        double right, top;
    } cases[] = {{300, 0, 15000, 50}, {0, 0, 50, 50}, {0, 200, 50, 10000}};
    for (const auto& c : cases) {
        View()->centralWidget()->resize(c.width, c.height);
        View()->FormResize(View());
        // An orthographic matrix scales by 2 / (right - left) on its diagonal.
        const Matrix m = Get(GL_PROJECTION_MATRIX);
        EXPECT_NEAR(1 / m[0], c.right, c.right * 1e-5) << c.width << "x" << c.height;
        EXPECT_NEAR(1 / m[5], c.top, c.top * 1e-5) << c.width << "x" << c.height;
    }
    ShowViewSized(401, 401);
}

TEST_F(ViewTest, TheNearerOfTwoPointsIsKeptWhateverTheirOrder)
{
    // z points toward the viewer: z = 10 is nearer than z = -10.
    for (const char* text : {"0 0 10\n0 0 -10\n", "0 0 -10\n0 0 10\n"}) {
        SetPoints(text);
        const Frame frame = Render();
        ASSERT_EQ(frame.Reds().size(), 1u) << text;
        EXPECT_NEAR(frame.DepthAt(frame.Reds()[0]), 0.4f, 0.01f) << text;
    }
}

TEST_F(ViewTest, ArrowKeysTurnByFiveDegreesAboutTheCloudsOwnAxes)
{
    EXPECT_EQ(Get(GL_MODELVIEW_MATRIX), kIdentity);
    const struct
    {
        Qt::Key key;
        double degrees;
        int axis;
    } turns[] = {
        {Qt::Key_Up, -5, 1}, {Qt::Key_Down, 5, 1}, {Qt::Key_Left, -5, 0}, {Qt::Key_Right, 5, 0}};
    Matrix expected = kIdentity;
    for (const auto& t : turns) {
        for (const Qt::KeyboardModifiers modifiers :
             {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier),
              Qt::KeyboardModifiers(Qt::ControlModifier)}) {
            Press(t.key, modifiers);
            expected = Product(expected, Rotation(t.degrees, t.axis));
            EXPECT_LT(Distance(Get(GL_MODELVIEW_MATRIX), expected), 1e-6) << t.key;
        }
    }
    for (const Qt::Key key :
         {Qt::Key_A, Qt::Key_Space, Qt::Key_PageUp, Qt::Key_Home, Qt::Key_Escape})
        Press(key);
    EXPECT_LT(Distance(Get(GL_MODELVIEW_MATRIX), expected), 1e-6) << "another key turned it";

    // A quarter turn about y brings a point on the x axis to the centre; a
    // resize turns it back.
    ShowViewSized(402, 402);
    EXPECT_EQ(Get(GL_MODELVIEW_MATRIX), kIdentity);
    ExpectRedsAt(RedsOf("40 0 0"), {{361.8, 201}});
    for (int i = 0; i < 18; ++i)
        Press(Qt::Key_Right);
    ExpectRedsAt(Render().Reds(), {{201, 201}});
}

TEST_F(ViewTest, TenThousandTurnsLeaveTheRotationTheyMake)
{
    ShowViewSized(300, 300);
    const std::pair<Qt::Key, Matrix> turns[] = {{Qt::Key_Up, Rotation(-5, 1)},
                                                {Qt::Key_Down, Rotation(5, 1)},
                                                {Qt::Key_Left, Rotation(-5, 0)},
                                                {Qt::Key_Right, Rotation(5, 0)}};
    constexpr int kTurns = 10000;
    std::mt19937 random(11);
    Matrix expected = kIdentity;
    for (int i = 0; i < kTurns; ++i) {
        const auto& [key, turn] = turns[random() % 4];
        Press(key);
        expected = Product(expected, turn);
    }
    // A rotation as a float matrix can be, however many turns made it: its
    // columns of unit length and at right angles, its angle off by an epsilon
    // a turn at most.
    const Matrix m = Get(GL_MODELVIEW_MATRIX);
    constexpr double epsilon = std::numeric_limits<float>::epsilon();
    Matrix gram{};
    for (std::size_t a = 0; a < 4; ++a)
        for (std::size_t b = 0; b < 4; ++b)
            for (std::size_t k = 0; k < 4; ++k)
                gram[a * 4 + b] += m[a * 4 + k] * m[b * 4 + k];
    EXPECT_LT(Distance(gram, kIdentity), 4 * epsilon);
    EXPECT_LT(Distance(m, expected), kTurns * epsilon);
}

TEST_F(ViewTest, StormOfResizesEndsInTheLastSizeUnturned)
{
    std::mt19937 random(5);
    for (int i = 0; i < 300; ++i) {
        View()->resize(static_cast<int>(random() % 900), static_cast<int>(random() % 700));
        Press(Qt::Key_Up);
        if (i % 10 == 0)
            QCoreApplication::processEvents();
    }
    ShowViewSized(400, 200);
    EXPECT_EQ(Get(GL_MODELVIEW_MATRIX), kIdentity);
    ExpectRedsAt(RedsOf("0 49 0\n-99 0 0"), {{200, 1}, {2, 100}});
}

std::string FrameError()
{
    try {
        View()->DrawFrame();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "no error";
}

TEST_F(ViewTest, BadLineHoldsTheLastFrameBackAndIsReportedWhereItNowIs)
{
    SetPoints("1 2 3\n4 5 6\nabc 1 2\n");
    EXPECT_EQ(FrameError(), "Line 3: 'abc' is not a valid floating point value");
    ASSERT_TRUE(WaitFor([] { return !ReportText().empty(); }));
    EXPECT_EQ(ReportText(), "Line 3: 'abc' is not a valid floating point value");

    TMemo& memo = *control_Form->Memo1;
    const auto insert = [&memo](int line, const char* text) {
        memo.SendScintilla(
            QsciScintillaBase::SCI_INSERTTEXT,
            static_cast<unsigned long>(memo.SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE,
                                                          static_cast<unsigned long>(line))),
            text);
    };
    insert(0, "4 5 6\n7 8 9\n");
    EXPECT_EQ(FrameError(), "Line 5: 'abc' is not a valid floating point value");
    insert(4, "9");
    EXPECT_EQ(FrameError(), "Line 5: '9abc' is not a valid floating point value");
    ASSERT_TRUE(WaitFor([] {
        return ReportText() == "Line 5: '9abc' is not a valid floating point value";
    })) << "a new text brings a new report into the same box";
    SetPoints("1 2 3\n4 5\n");
    EXPECT_EQ(FrameError(), "Line 2: List index out of bounds (2)");
    SetPoints("1 2 3\n");
    EXPECT_EQ(FrameError(), "no error");
}

TEST_F(ViewTest, HiddenViewStillRunsPassesAndReports)
{
    View()->close();
    SetPoints("1 2 3\n\n");
    ASSERT_TRUE(WaitFor([] { return !ReportText().empty(); }));
    EXPECT_EQ(ReportText(), "Line 2: List index out of bounds (0)");
    SetPoints("");
}

TEST_F(ViewTest, ShowingAndHidingAThousandTimesHoldsNothingMore)
{
    const auto cycles = [](int count) {
        for (int i = 0; i < count; ++i) {
            View()->Show();
            ASSERT_TRUE(WaitFor([] { return View()->GLClient()->isExposed(); }));
            View()->close();
            ASSERT_TRUE(WaitFor([] { return !View()->GLClient()->isExposed(); }));
        }
    };
    // Mesa makes new buffers for a window that comes back and keeps some for
    // a while, so the heap settles only after some hundred cycles.
    ASSERT_NO_FATAL_FAILURE(cycles(500));
    const auto windows = QGuiApplication::allWindows().size();
    const auto objects = View()->findChildren<QObject*>().size();
    const std::size_t heap = mallinfo2().uordblks + mallinfo2().hblkhd;
    ASSERT_NO_FATAL_FAILURE(cycles(500));
    EXPECT_LT(mallinfo2().uordblks + mallinfo2().hblkhd, heap + (8 << 20));
    EXPECT_EQ(QGuiApplication::allWindows().size(), windows);
    EXPECT_EQ(View()->findChildren<QObject*>().size(), objects);
}

// A pass over every current line, as the view made before it kept points.
std::pair<int, std::vector<float>> FullPass(const TStrings& lines)
{
    std::vector<float> vertices;
    TStringList scratch;
    int good = 0;
    for (; good < lines.Count(); ++good) {
        CloudPoint p{};
        if (!TryParsePointLine(lines.View(good), scratch, '.', p))
            break;
        vertices.insert(vertices.end(), {static_cast<float>(p.x), static_cast<float>(p.y),
                                         static_cast<float>(p.z)});
    }
    return {good, vertices};
}

TEST(KeptPoints, EqualAFullPassThroughRandomEdits)
{
    static const std::vector<std::string> pieces = {"1 2 3\n",  "-4.5 6e1 7\r\n",
                                                    "8,9,10\r", "\n",
                                                    "\r",       "\r\n",
                                                    " ",        "5",
                                                    ".",        "e",
                                                    "x",        "\t",
                                                    ",",        "1 2"};
    using S = QsciScintillaBase;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&random](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        const auto piece = [&] {
            std::string text;
            for (int i = pick(1, 6); i > 0; --i)
                text +=
                    pieces[static_cast<std::size_t>(pick(0, static_cast<int>(pieces.size()) - 1))];
            return text;
        };
        TMemo memo;
        TStrings& lines = *memo.Lines;
        CloudCache cache;
        const auto at = [&memo](long position) { return static_cast<unsigned long>(position); };
        for (int step = 0; step < 300; ++step) {
            const long length = memo.SendScintilla(S::SCI_GETLENGTH);
            const long lineStart =
                memo.SendScintilla(S::SCI_POSITIONFROMLINE, at(pick(0, lines.TextLineCount() - 1)));
            switch (pick(0, 6)) {
            case 0: // whole points pasted at the start of a line
            case 1:
                memo.SendScintilla(S::SCI_INSERTTEXT, at(lineStart),
                                   pick(0, 1) ? "1 2 3\n-4.5 6e1 7\r\n" : "1 2 3\n");
                break;
            case 2: // a few characters typed anywhere
                memo.SendScintilla(S::SCI_INSERTTEXT, at(pick(0, static_cast<int>(length))),
                                   piece().c_str());
                break;
            case 3: { // the first bad line deleted, as a user mends it
                const int bad = FullPass(lines).first;
                if (bad < lines.Count())
                    memo.SendScintilla(S::SCI_DELETERANGE,
                                       at(memo.SendScintilla(S::SCI_POSITIONFROMLINE, at(bad))),
                                       memo.SendScintilla(S::SCI_LINELENGTH, at(bad)));
                break;
            }
            case 4: // a few characters deleted anywhere
                if (length > 0) {
                    const int from = pick(0, static_cast<int>(length) - 1);
                    memo.SendScintilla(S::SCI_DELETERANGE, at(from),
                                       static_cast<long>(pick(
                                           1, std::min<int>(static_cast<int>(length) - from, 3))));
                }
                break;
            case 5: // undo, now and then redo
                memo.SendScintilla(pick(0, 2) ? S::SCI_UNDO : S::SCI_REDO);
                break;
            default: { // the whole text replaced by a load
                std::string text;
                for (int i = pick(0, 30); i > 0; --i)
                    text += pick(0, 9) ? "1 2 3\n" : piece();
                LoadText(memo, text);
            }
            }
            if (step % 3 == 1)
                continue; // frames come after one edit or after several
            for (const TLinesChange& change : lines.TakeChanges())
                cache.Replace(change.first, change.removed, change.added);
            const int good = cache.Update(
                lines.TextLineCount(), lines.Count(),
                [&lines](int b, int e) { return lines.Range(b, e); }, '.');
            const auto [fullGood, vertices] = FullPass(lines);
            ASSERT_EQ(good, fullGood) << "seed " << seed << " step " << step;
            ASSERT_EQ(
                std::vector<float>(cache.Vertices().begin(), cache.Vertices().begin() + good * 3),
                vertices)
                << "seed " << seed << " step " << step;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);
    return RUN_ALL_TESTS();
}
