// The view as the user sees it: where the points land, how the keys turn
// them, what a line that is not a point does, pictures drawn in slices, and
// the kept points against a full pass through long random edits.
#include "program.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

// One frame as the idle handler draws it: the back buffer before the swap,
// and how many points it drew.
struct Frame
{
    std::vector<unsigned char> rgba;
    GLuint drawn = 0;
    std::string error;
    int width = 0;

    // Red pixels as (column, row from the top); any other colour but black
    // counts as (-1, -1).
    std::vector<std::pair<int, int>> Reds() const
    {
        std::vector<std::pair<int, int>> reds;
        const int height = static_cast<int>(rgba.size() / 4) / width;
        for (std::size_t i = 0; i < rgba.size(); i += 4) {
            const int pixel = static_cast<int>(i / 4);
            if (rgba[i] == 255 && rgba[i + 1] == 0 && rgba[i + 2] == 0)
                reds.emplace_back(pixel % width, height - 1 - pixel / width);
            else if (rgba[i] + rgba[i + 1] + rgba[i + 2] != 0)
                reds.emplace_back(-1, -1);
        }
        std::sort(reds.begin(), reds.end(), [](auto a, auto b) {
            return std::pair(a.second, a.first) < std::pair(b.second, b.first);
        });
        return reds;
    }
};

Frame Render()
{
    Frame frame;
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_PRIMITIVES_GENERATED, query);
    try {
        View()->DrawFrame();
    } catch (const Exception& e) {
        frame.error = e.Message();
    }
    glEndQuery(GL_PRIMITIVES_GENERATED);
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &frame.drawn);
    glDeleteQueries(1, &query);
    frame.width = View()->ClientWidth();
    frame.rgba.resize(static_cast<std::size_t>(frame.width * View()->ClientHeight()) * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, frame.width, View()->ClientHeight(), GL_RGBA, GL_UNSIGNED_BYTE,
                 frame.rgba.data());
    return frame;
}

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

// What a frame of `text` shows.
std::vector<std::pair<int, int>> RedsOf(std::string_view text)
{
    LoadText(*control_Form->Memo1, text);
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
constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix Get(GLenum which)
{
    std::array<float, 16> m{};
    glGetFloatv(which, m.data());
    Matrix out{};
    std::copy(m.begin(), m.end(), out.begin());
    return out;
}

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

// Framebuffer objects came with OpenGL 3.0; below, every frame draws all.
bool Offscreen()
{
    return std::atof(reinterpret_cast<const char*>(glGetString(GL_VERSION))) >= 3;
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

TEST_F(ViewTest, ContextAndItsStateStayThroughHidingAndShowing)
{
    ASSERT_NE(View()->GLRC, nullptr);
    const HGLRC context = View()->GLRC;
    const HDC dc = View()->DC;
    const auto windows = QGuiApplication::allWindows().size();
    const auto objects = View()->findChildren<QObject*>().size();
    for (int i = 0; i < 100; ++i) {
        View()->close();
        ASSERT_TRUE(WaitFor([] { return !View()->GLClient()->isExposed(); }));
        control_Form->Button1->click();
        ASSERT_TRUE(WaitFor([] { return View()->GLClient()->isExposed(); }));
    }
    EXPECT_EQ(View()->GLRC, context);
    EXPECT_EQ(View()->DC, dc);
    EXPECT_EQ(QOpenGLContext::currentContext(), context);
    EXPECT_EQ(QGuiApplication::allWindows().size(), windows);
    EXPECT_EQ(View()->findChildren<QObject*>().size(), objects);
    std::array<float, 4> clear{};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear.data());
    EXPECT_EQ(clear, (std::array<float, 4>{0, 0, 0, 1}));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST) && glIsEnabled(GL_CULL_FACE));
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

TEST_F(ViewTest, BadLineDrawsNothingAndIsReportedWhereItNowIs)
{
    LoadText(*control_Form->Memo1, "1 2 3\n4 5 6\nabc 1 2\n");
    const Frame frame = Render();
    EXPECT_EQ(frame.error, "Line 3: 'abc' is not a valid floating point value");
    EXPECT_EQ(frame.drawn, 0u) << "points drawn for a frame never shown";
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
    EXPECT_EQ(Render().error, "Line 5: 'abc' is not a valid floating point value");
    insert(4, "9");
    EXPECT_EQ(Render().error, "Line 5: '9abc' is not a valid floating point value");
    ASSERT_TRUE(WaitFor([] {
        return ReportText() == "Line 5: '9abc' is not a valid floating point value";
    })) << "a new text brings a new report into the same box";
    LoadText(memo, "1 2 3\n4 5\n");
    EXPECT_EQ(Render().error, "Line 2: List index out of bounds (2)");
    LoadText(memo, "1 2 3\n");
    EXPECT_EQ(Render().error, "");
}

TEST_F(ViewTest, HiddenViewStillRunsPassesAndReports)
{
    View()->close();
    LoadText(*control_Form->Memo1, "1 2 3\n\n");
    ASSERT_TRUE(WaitFor([] { return !ReportText().empty(); }));
    EXPECT_EQ(ReportText(), "Line 2: List index out of bounds (0)");
}

TEST_F(ViewTest, PictureDrawnInSlicesIsOneDrawsAndShowsOnlyWhenComplete)
{
    if (!Offscreen())
        GTEST_SKIP() << "every frame draws all points in one call";
    LoadText(*control_Form->Memo1, "0 0 0\n");
    const Frame before = Render();
    std::mt19937 random(3);
    std::uniform_real_distribution<float> coordinate(-49, 49);
    std::string text;
    std::vector<float> vertices;
    TStringList scratch;
    for (int i = 0; i < 400'000; ++i) {
        const std::string line = std::to_string(coordinate(random)) + " " +
                                 std::to_string(coordinate(random)) + " " +
                                 std::to_string(coordinate(random));
        float point[3];
        ASSERT_TRUE(ConvertLine(line, scratch, '.', point));
        vertices.insert(vertices.end(), point, point + 3);
        text += line + "\n";
    }
    // The same points in one draw call, into a framebuffer of the view's own,
    // as deep as the window's.
    GLint depth = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    GLuint framebuffer = 0, renderbuffers[2] = {};
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(2, renderbuffers);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    for (int i = 0; i < 2; ++i) {
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[i]);
        glRenderbufferStorage(GL_RENDERBUFFER,
                              i == 0       ? GL_RGBA8
                              : depth > 24 ? GL_DEPTH_COMPONENT32
                                           : GL_DEPTH_COMPONENT24,
                              400, 400);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, i ? GL_DEPTH_ATTACHMENT : GL_COLOR_ATTACHMENT0,
                                  GL_RENDERBUFFER, renderbuffers[i]);
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices.data());
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(vertices.size() / 3));
    glDisableClientState(GL_VERTEX_ARRAY);
    Frame expected;
    expected.width = 400;
    expected.rgba.resize(400 * 400 * 4);
    glReadPixels(0, 0, 400, 400, GL_RGBA, GL_UNSIGNED_BYTE, expected.rgba.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(2, renderbuffers);

    LoadText(*control_Form->Memo1, text);
    GLuint drawn = 0;
    Frame frame;
    for (int frames = 0; (frame = Render()).rgba != expected.rgba; ++frames) {
        ASSERT_EQ(frame.rgba, before.rgba) << "frame " << frames << " shows a part picture";
        ASSERT_LT(frames, 10000);
        drawn += frame.drawn;
    }
    EXPECT_EQ(drawn + frame.drawn, 400'000u) << "points drawn twice, or not at all";
    EXPECT_EQ(Render().drawn, 0u) << "an unchanged scene drawn again";
}

// A pass over every current line, as the view made before it kept points.
std::pair<int, std::vector<float>> FullPass(const TStrings& lines)
{
    std::vector<float> vertices;
    TStringList scratch;
    int good = 0;
    float point[3];
    for (; good < lines.Count() && ConvertLine(lines.View(good), scratch, '.', point); ++good)
        vertices.insert(vertices.end(), point, point + 3);
    return {good, vertices};
}

TEST(KeptPoints, EqualAFullPassThroughRandomEditsAndLoads)
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
        CloudLoader loader('.');
        lines.SetLoadTap(&loader);
        const auto at = [](long position) { return static_cast<unsigned long>(position); };
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
                    memo.SendScintilla(
                        S::SCI_DELETERANGE, at(from),
                        static_cast<long>(pick(1, std::min(static_cast<int>(length) - from, 3))));
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
            for (const TLinesChange& change : lines.TakeChanges()) {
                if (auto loaded = loader.Result(change.load))
                    cache.Install(std::move(*loaded), change.added);
                else
                    cache.Replace(change.first, change.removed, change.added);
            }
            // A few lines a frame, until all are converted.
            CloudCache::Progress progress{};
            while (!(progress = cache.Update(
                         lines.TextLineCount(), lines.Count(),
                         [&lines](int b, int e) { return lines.Range(b, e); }, '.', pick(1, 9)))
                        .complete) {
            }
            const auto [good, vertices] = FullPass(lines);
            ASSERT_EQ(progress.good, good) << "seed " << seed << " step " << step;
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
