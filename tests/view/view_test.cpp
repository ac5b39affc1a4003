// The view as the user sees it: where the points land, how the keys turn
// them, what a line that is not a point does, pictures drawn in slices, and
// the kept points against a full pass through long random edits.
#include "program.h"
#include "scintilla.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <QMatrix4x4>
#include <QOpenGLFramebufferObject>

#include <cmath>
#include <limits>
#include <random>

namespace {

// One frame as the idle handler draws it: the back buffer before the swap,
// how many points it drew, and what it raised.
struct Frame
{
    QImage image;
    GLuint drawn = 0;
    std::string error;

    // Red pixels as (column, row from the top); any other colour but black
    // counts as (-1, -1).
    std::vector<std::pair<int, int>> Reds() const
    {
        std::vector<std::pair<int, int>> reds;
        for (int row = 0; row < image.height(); ++row)
            for (int column = 0; column < image.width(); ++column)
                if (const QRgb pixel = image.pixel(column, row); pixel == qRgb(255, 0, 0))
                    reds.emplace_back(column, row);
                else if (pixel != qRgb(0, 0, 0))
                    reds.emplace_back(-1, -1);
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
    QImage image(View()->ClientWidth(), View()->ClientHeight(), QImage::Format_RGBA8888);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, image.width(), image.height(), GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    frame.image = image.mirrored().convertToFormat(QImage::Format_RGB32);
    return frame;
}

void ShowViewSized(int width, int height)
{
    View()->Show();
    View()->resize(width, height);
    ASSERT_TRUE(WaitFor([&] {
        const QWindow* surface = View()->GLClient();
        return View()->ViewW == static_cast<float>(width) && surface->isExposed() &&
               surface->width() == width && surface->height() == height;
    }));
    // Qt takes the size at once; the X server sizes the window a moment later,
    // and the driver its buffers at the swap after that.
    QGuiApplication::sync();
    SwapBuffers(View()->DC);
}

// The red pixels of a frame of `text`, each within a pixel and a half of
// where it belongs, in order from the top.
void ExpectRedsAt(std::string_view text, const std::vector<QPointF>& expected)
{
    LoadText(*control_Form->Memo1, text);
    const auto reds = Render().Reds();
    ASSERT_EQ(reds.size(), expected.size()) << text;
    for (std::size_t i = 0; i < reds.size(); ++i) {
        EXPECT_NEAR(reds[i].first, expected[i].x(), 1.5) << text;
        EXPECT_NEAR(reds[i].second, expected[i].y(), 1.5) << text;
    }
}

QMatrix4x4 Get(GLenum which)
{
    float m[16];
    glGetFloatv(which, m);
    return QMatrix4x4(m).transposed(); // GL keeps columns first
}

bool Near(const QMatrix4x4& a, const QMatrix4x4& b, float tolerance)
{
    const QMatrix4x4 d = a - b;
    return std::all_of(d.constData(), d.constData() + 16,
                       [=](float v) { return std::abs(v) <= tolerance; });
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

TEST_F(ViewTest, ProjectionKeepsTheShorterSideAtFiftyAndClipsBeyond)
{
    const auto line = [](float x, float y, float z) {
        return std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + "\n";
    };
    for (const auto& [width, height, halfX, halfY] :
         {std::tuple{400, 200, 100.f, 50.f}, {200, 400, 50.f, 100.f}, {300, 300, 50.f, 50.f}}) {
        ShowViewSized(width, height);
        // Points on the axes at 0.9 of the half-extents, and beyond them, clipped.
        const float w = static_cast<float>(width), h = static_cast<float>(height);
        ExpectRedsAt(line(0, .9f * halfY, 49) + line(-.9f * halfX, 0, 0) + line(0, 0, -49) +
                         line(.9f * halfX, 0, 0) + line(0, -.9f * halfY, 0) +
                         line(1.02f * halfX, 0, 0) + line(0, -1.02f * halfY, 0) + line(0, 0, 51) +
                         line(0, 0, -51),
                     {{w / 2, .05f * h},
                      {.05f * w, h / 2},
                      {w / 2, h / 2},
                      {.95f * w, h / 2},
                      {w / 2, .95f * h}});
    }
    // A client of 0 by 0 is taken as 1 by 1: nothing divides by zero.
    View()->centralWidget()->resize(0, 0);
    View()->FormResize(View());
    const QMatrix4x4 m = Get(GL_PROJECTION_MATRIX);
    EXPECT_FLOAT_EQ(m(0, 0), 1 / 50.f);
    EXPECT_FLOAT_EQ(m(1, 1), 1 / 50.f);
}

TEST_F(ViewTest, ArrowKeysTurnByFiveDegreesAboutTheCloudsOwnAxes)
{
    QMatrix4x4 expected;
    EXPECT_EQ(Get(GL_MODELVIEW_MATRIX), expected);
    for (const auto& [key, degrees, x] : {std::tuple{Qt::Key_Up, -5.f, 1.f},
                                          {Qt::Key_Down, 5.f, 1.f},
                                          {Qt::Key_Left, -5.f, 0.f},
                                          {Qt::Key_Right, 5.f, 0.f}}) {
        for (const auto modifier : {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier}) {
            Press(key, modifier);
            expected.rotate(degrees, x, 1 - x, 0);
            EXPECT_TRUE(Near(Get(GL_MODELVIEW_MATRIX), expected, 1e-6f)) << key << " " << modifier;
        }
    }
    for (const Qt::Key key : {Qt::Key_A, Qt::Key_Space, Qt::Key_PageUp, Qt::Key_Escape})
        Press(key);
    EXPECT_TRUE(Near(Get(GL_MODELVIEW_MATRIX), expected, 1e-6f)) << "another key turned it";

    // Thousands of turns still make a rotation, to a float's epsilon: no
    // scaling nor shearing has built up.
    std::mt19937 random(11);
    for (int i = 0; i < 5000; ++i)
        Press(std::array{Qt::Key_Up, Qt::Key_Left, Qt::Key_Down, Qt::Key_Right}[random() % 4]);
    const QMatrix4x4 m = Get(GL_MODELVIEW_MATRIX);
    EXPECT_TRUE(Near(m * m.transposed(), QMatrix4x4(), 4 * std::numeric_limits<float>::epsilon()));

    // A quarter turn about y brings a point on the x axis to the centre; a
    // resize turns it back.
    ShowViewSized(402, 402);
    EXPECT_EQ(Get(GL_MODELVIEW_MATRIX), QMatrix4x4());
    ExpectRedsAt("40 0 0", {{361.8, 201}});
    for (int i = 0; i < 18; ++i)
        Press(Qt::Key_Right);
    ExpectRedsAt("40 0 0", {{201, 201}});
}

TEST_F(ViewTest, BadLineDrawsNothingAndIsReportedWhereItNowIs)
{
    TMemo& memo = *control_Form->Memo1;
    LoadText(memo, "1 2 3\n4 5 6\nabc 1 2\n");
    const Frame frame = Render();
    EXPECT_EQ(frame.error, "Line 3: 'abc' is not a valid floating point value");
    EXPECT_EQ(frame.drawn, 0u) << "points drawn for a frame never shown";
    ASSERT_TRUE(WaitFor(
        [] { return ReportText() == "Line 3: 'abc' is not a valid floating point value"; }));
    memo.insertAt("4 5 6\n7 8 9\n", 0, 0);
    EXPECT_EQ(Render().error, "Line 5: 'abc' is not a valid floating point value");
    memo.insertAt("9", 4, 0);
    EXPECT_EQ(Render().error, "Line 5: '9abc' is not a valid floating point value");
    ASSERT_TRUE(WaitFor([] {
        return ReportText() == "Line 5: '9abc' is not a valid floating point value";
    })) << "a new text brings a new report into the same box";
    LoadText(memo, "1 2 3\n4 5\n");
    EXPECT_EQ(Render().error, "Line 2: List index out of bounds (2)");
    LoadText(memo, "1 2 3\n");
    EXPECT_EQ(Render().error, "");
    // The view hidden, passes still run and report; shown again, it has the
    // context it was made with.
    const HGLRC context = View()->GLRC;
    View()->close();
    LoadText(memo, "1 2 3\n\n");
    EXPECT_TRUE(WaitFor([] { return ReportText() == "Line 2: List index out of bounds (0)"; }));
    control_Form->Button1->click();
    ASSERT_TRUE(WaitFor([] { return View()->GLClient()->isExposed(); }));
    EXPECT_TRUE(context && View()->GLRC == context && QOpenGLContext::currentContext() == context);
}

TEST_F(ViewTest, PictureDrawnInSlicesIsOneDrawsShowsOnlyWhenCompleteAndRestartsOnATurn)
{
    // Framebuffer objects came with OpenGL 3.0; below, every frame draws all.
    if (QOpenGLContext::currentContext()->format().majorVersion() < 3)
        GTEST_SKIP() << "every frame draws all points in one call";
    LoadText(*control_Form->Memo1, "0 0 0\n");
    const Frame before = Render();
    std::mt19937 random(3);
    std::uniform_int_distribution tenths(-490, 490);
    std::string text;
    std::vector<float> vertices;
    for (int i = 0; i < 400'000 * 3; ++i) {
        const double v = tenths(random) / 10.0;
        vertices.push_back(static_cast<float>(v));
        text += std::to_string(v) + (i % 3 == 2 ? "\n" : " ");
    }
    // A slice or so (or, on a fast machine, the whole picture), then a turn
    // that starts it again: given straight to the handler, since a key sent
    // as an event lets frames run here uncounted.
    LoadText(*control_Form->Memo1, text);
    const QImage shown = Render().image;
    WORD right = VK_RIGHT;
    View()->FormKeyDown(View(), right, {});
    // The same points, turned, in one draw call into a framebuffer of the test's own.
    QOpenGLFramebufferObject reference(400, 400, QOpenGLFramebufferObject::Depth);
    reference.bind();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices.data());
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(vertices.size() / 3));
    glDisableClientState(GL_VERTEX_ARRAY);
    reference.release();
    const QImage expected = reference.toImage().convertToFormat(QImage::Format_RGB32);
    GLuint drawn = 0;
    Frame frame;
    for (int frames = 0; (frame = Render()).image != expected; ++frames) {
        ASSERT_EQ(frame.image, shown) << "frame " << frames << " shows a part picture";
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
    const std::string pieces[] = {"1 2 3\n", "-4.5 6e1 7\r\n", "8,9,10\r", "\n", "\r", "\r\n", " 5",
                                  ".e",      "x\t,",           "1 2"};
    using S = QsciScintillaBase;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&random](long high) {
            return std::uniform_int_distribution<long>(0, high)(random);
        };
        // A few pieces, or, as a file, up to 30 lines mostly points.
        const auto some = [&](bool file) {
            std::string text;
            for (long i = file ? pick(30) : pick(5) + 1; i > 0; --i)
                text += file && pick(9) ? pieces[0] : pieces[pick(std::size(pieces) - 1)];
            return text;
        };
        TMemo memo;
        TStrings& lines = *memo.Lines;
        CloudCache cache;
        CloudLoader loader('.');
        lines.SetLoadTap(&loader);
        // Once, a load whose first line spans pieces and is too long to join
        // there: it is converted where it lies in the text box.
        if (seed == 1)
            LoadText(memo, "1 2 3" + std::string(5 << 20, ' ') + "\n4 5 6\n");
        for (int step = 0; step < 300; ++step) {
            const long length = memo.length();
            const int bad = FullPass(lines).first;
            switch (pick(5)) {
            case 0: // a few pieces typed at the start of a line, or anywhere
            case 1:
                memo.SendScintilla(
                    S::SCI_INSERTTEXT,
                    static_cast<unsigned long>(pick(1) ? Send(memo, S::SCI_POSITIONFROMLINE,
                                                              pick(lines.TextLineCount() - 1))
                                                       : pick(length)),
                    some(false).c_str());
                break;
            case 2: // the first bad line deleted, as a user mends it
                if (bad < lines.Count())
                    Send(memo, S::SCI_DELETERANGE, Send(memo, S::SCI_POSITIONFROMLINE, bad),
                         Send(memo, S::SCI_LINELENGTH, bad));
                break;
            case 3: // a few characters deleted anywhere
                if (length > 0) {
                    const long from = pick(length - 1);
                    Send(memo, S::SCI_DELETERANGE, from, std::min(length - from, pick(2) + 1));
                }
                break;
            case 4: // undo, now and then redo
                Send(memo, pick(2) ? S::SCI_UNDO : S::SCI_REDO);
                break;
            default: // the whole text replaced by a load
                LoadText(memo, some(true));
            }
            if (step % 3 == 1)
                continue; // frames come after one edit or after several
            cache.Apply(lines.TakeChanges());
            // A few lines a frame, until all are converted.
            CloudCache::Progress progress{};
            while (!(progress = cache.Update(
                         lines.TextLineCount(), lines.Count(),
                         [&lines](int b, int e) { return lines.Range(b, e); }, '.',
                         static_cast<int>(pick(8) + 1)))
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
