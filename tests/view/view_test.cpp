// The view as the user sees it: where the points land, how the keys turn
// them, what a line that is not a point does, pictures drawn in slices, and
// the kept points against a full pass through long random edits.
#include "program.h"

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
    // The GL buffers follow the X window, which the server sizes a moment later.
    ASSERT_TRUE(WaitFor([&] {
        const QWindow* surface = View()->GLClient();
        return View()->ViewW == static_cast<float>(width) && surface->isExposed() &&
               surface->width() == width && surface->height() == height;
    }));
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
    for (int i = 0; i < 16; ++i)
        if (std::abs(a.constData()[i] - b.constData()[i]) > tolerance)
            return false;
    return true;
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
    const HGLRC context = View()->GLRC;
    ASSERT_NE(context, nullptr);
    const auto windows = QGuiApplication::allWindows().size();
    for (int i = 0; i < 100; ++i) {
        View()->close();
        ASSERT_TRUE(WaitFor([] { return !View()->GLClient()->isExposed(); }));
        control_Form->Button1->click();
        ASSERT_TRUE(WaitFor([] { return View()->GLClient()->isExposed(); }));
    }
    EXPECT_EQ(QOpenGLContext::currentContext(), context);
    EXPECT_EQ(View()->GLRC, context);
    EXPECT_EQ(QGuiApplication::allWindows().size(), windows);
    float clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_TRUE(clear[0] == 0 && clear[1] == 0 && clear[2] == 0 && clear[3] == 1);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST) && glIsEnabled(GL_CULL_FACE));
}

TEST_F(ViewTest, ProjectionKeepsTheShorterSideAtFiftyAndClipsBeyond)
{
    ExpectRedsAt("", {});
    for (const auto& [width, height, halfX, halfY] :
         {std::tuple{400, 200, 100.f, 50.f}, {200, 400, 50.f, 100.f}, {300, 300, 50.f, 50.f}}) {
        ShowViewSized(width, height);
        for (const auto& [x, y] : {std::pair{0.f, 0.f},
                                   {0.9f * halfX, 0.f},
                                   {-0.9f * halfX, 0.f},
                                   {0.f, 0.9f * halfY},
                                   {0.f, -0.9f * halfY}})
            ExpectRedsAt(std::to_string(x) + " " + std::to_string(y) + " 49",
                         {{(x / halfX + 1) / 2 * static_cast<float>(width),
                           (1 - y / halfY) / 2 * static_cast<float>(height)}});
        ExpectRedsAt(std::to_string(1.02f * halfX) + " 0 0\n0 " + std::to_string(-1.02f * halfY) +
                         " 0\n0 0 51\n0 0 -51",
                     {});
    }
    // A client height of 0 is taken as 1, a width of 0 too: nothing divides by zero.
    for (const auto& [width, height, right, top] :
         {std::tuple{300, 0, 15000.f, 50.f}, {0, 0, 50.f, 50.f}, {0, 200, 50.f, 10000.f}}) {
        View()->centralWidget()->resize(width, height);
        View()->FormResize(View());
        const QMatrix4x4 m = Get(GL_PROJECTION_MATRIX);
        EXPECT_NEAR(1 / m(0, 0), right, right * 1e-5) << width << "x" << height;
        EXPECT_NEAR(1 / m(1, 1), top, top * 1e-5) << width << "x" << height;
    }
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

    // Thousands of turns leave a rotation, and their opposites, in the other
    // order, the one they started from, but for an epsilon a turn.
    std::mt19937 random(11);
    std::vector<Qt::Key> keys(5000);
    for (Qt::Key& key : keys)
        Press(key =
                  std::array{Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right}[random() % 4]);
    const QMatrix4x4 m = Get(GL_MODELVIEW_MATRIX);
    EXPECT_TRUE(Near(m * m.transposed(), QMatrix4x4(), 4 * std::numeric_limits<float>::epsilon()));
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
        Press(*key == Qt::Key_Up     ? Qt::Key_Down
              : *key == Qt::Key_Down ? Qt::Key_Up
              : *key == Qt::Key_Left ? Qt::Key_Right
                                     : Qt::Key_Left);
    EXPECT_TRUE(
        Near(Get(GL_MODELVIEW_MATRIX), expected, 1e4f * std::numeric_limits<float>::epsilon()));

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
    // The view hidden, passes still run and report.
    View()->close();
    LoadText(memo, "1 2 3\n\n");
    EXPECT_TRUE(WaitFor([] { return ReportText() == "Line 2: List index out of bounds (0)"; }));
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
    // The same points in one draw call, into a framebuffer of the test's own.
    QOpenGLFramebufferObject reference(400, 400, QOpenGLFramebufferObject::Depth);
    reference.bind();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices.data());
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(vertices.size() / 3));
    glDisableClientState(GL_VERTEX_ARRAY);
    reference.release();
    const QImage expected = reference.toImage().convertToFormat(QImage::Format_RGB32);

    LoadText(*control_Form->Memo1, text);
    GLuint drawn = 0;
    Frame frame;
    for (int frames = 0; (frame = Render()).image != expected; ++frames) {
        ASSERT_EQ(frame.image, before.image) << "frame " << frames << " shows a part picture";
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
    const std::vector<std::string> pieces = {"1 2 3\n",  "-4.5 6e1 7\r\n",
                                             "8,9,10\r", "\n",
                                             "\r",       "\r\n",
                                             " ",        "5",
                                             ".",        "e",
                                             "x",        "\t",
                                             ",",        "1 2"};
    using S = QsciScintillaBase;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&random](long low, long high) {
            return std::uniform_int_distribution<long>(low, high)(random);
        };
        const auto piece = [&] {
            std::string text;
            for (long i = pick(1, 6); i > 0; --i)
                text += pieces[static_cast<std::size_t>(pick(0, 13))];
            return text;
        };
        TMemo memo;
        TStrings& lines = *memo.Lines;
        const auto send = [&memo](unsigned int message, long w, long l = 0) {
            return memo.SendScintilla(message, static_cast<unsigned long>(w), l);
        };
        const auto insert = [&memo](long at, const std::string& text) {
            memo.SendScintilla(S::SCI_INSERTTEXT, static_cast<unsigned long>(at), text.c_str());
        };
        CloudCache cache;
        CloudLoader loader('.');
        lines.SetLoadTap(&loader);
        for (int step = 0; step < 300; ++step) {
            const long length = send(S::SCI_GETLENGTH, 0);
            const int bad = FullPass(lines).first;
            switch (pick(0, 6)) {
            case 0: // whole points pasted at the start of a line
            case 1:
                insert(send(S::SCI_POSITIONFROMLINE, pick(0, lines.TextLineCount() - 1)),
                       pick(0, 1) ? "1 2 3\n-4.5 6e1 7\r\n" : "1 2 3\n");
                break;
            case 2: // a few characters typed anywhere
                insert(pick(0, length), piece());
                break;
            case 3: // the first bad line deleted, as a user mends it
                if (bad < lines.Count())
                    send(S::SCI_DELETERANGE, send(S::SCI_POSITIONFROMLINE, bad),
                         send(S::SCI_LINELENGTH, bad));
                break;
            case 4: // a few characters deleted anywhere
                if (length > 0) {
                    const long from = pick(0, length - 1);
                    send(S::SCI_DELETERANGE, from, pick(1, std::min(length - from, 3L)));
                }
                break;
            case 5: // undo, now and then redo
                send(pick(0, 2) ? S::SCI_UNDO : S::SCI_REDO, 0);
                break;
            default: { // the whole text replaced by a load
                std::string text;
                for (long i = pick(0, 30); i > 0; --i)
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
                         [&lines](int b, int e) { return lines.Range(b, e); }, '.',
                         static_cast<int>(pick(1, 9))))
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
