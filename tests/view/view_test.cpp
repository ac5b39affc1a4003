// The view as the user sees it: where the points land, how the keys turn
// them, what a line that is not a point does, pictures drawn in slices, and
// the kept points against a full pass through long random edits.
#include "procstatus.h"
#include "program.h"
#include "rotation.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <QMatrix4x4>

#include <cmath>
#include <optional>
#include <random>
#include <set>

#include <malloc.h>
#include <sys/resource.h>

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

// Whether the context offers compute shaders, which then draw the points.
bool Computing()
{
    const QOpenGLContext* context = QOpenGLContext::currentContext();
    return context->format().version() >= qMakePair(4, 3) ||
           context->hasExtension("GL_ARB_compute_shader");
}

// Counting points drawn, or compute shader invocations where those draw them.
Frame Render(GLenum counted = Computing() ? GL_COMPUTE_SHADER_INVOCATIONS_ARB
                                          : GL_PRIMITIVES_GENERATED)
{
    Frame frame;
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(counted, query);
    try {
        View()->DrawFrame();
    } catch (const Exception& e) {
        frame.error = e.Message();
    }
    glEndQuery(counted);
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
    // The viewport is in device pixels, the window's size in Qt's.
    const double ratio = View()->devicePixelRatioF();
    ASSERT_TRUE(WaitFor([&] {
        const QWindow* surface = View()->GLClient();
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        return viewport[2] == qRound(width * ratio) && surface->isExposed() &&
               surface->width() == width && surface->height() == height;
    }));
    // Qt takes the size at once; the X server sizes the window a moment later,
    // and the driver its buffers at the swap after that.
    QGuiApplication::sync();
    QOpenGLContext::currentContext()->swapBuffers(View()->GLClient());
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

// Where a point lands by the rule both ways of drawing follow, under the
// current matrices and viewport: the pixel holding its window coordinates
// (column, row from the top) if it lies inside the view volume and not on its
// far plane. `clear` is false within a fiftieth of a pixel of a pixel's edge
// (llvmpipe snaps GL_POINTS to 1/256 pixel) or near the volume's faces,
// where rounding decides. Computed in float as the driver does, so that a
// point on a face of the unturned view lands on it exactly.
struct Placed
{
    std::optional<std::pair<int, int>> pixel;
    bool clear;
};

Placed Place(const float* point)
{
    const QVector4D clip = (Get(GL_PROJECTION_MATRIX) * Get(GL_MODELVIEW_MATRIX))
                               .map(QVector4D(point[0], point[1], point[2], 1));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const double x = (double{clip.x()} / clip.w() + 1) / 2 * viewport[2];
    const double y = (double{clip.y()} / clip.w() + 1) / 2 * viewport[3];
    const double z = double{clip.z()} / clip.w();
    const auto near = [](double v) { return std::abs(v - std::round(v)) < .02; };
    Placed placed{std::nullopt, !near(x) && !near(y) && std::abs(std::abs(z) - 1) > 1e-5};
    if (x >= 0 && x < viewport[2] && y >= 0 && y < viewport[3] && z >= -1 && z < 1)
        placed.pixel = {static_cast<int>(x), viewport[3] - 1 - static_cast<int>(y)};
    return placed;
}

// The red pixels the rule gives for `vertices`, as Frame::Reds lists them.
std::vector<std::pair<int, int>> RuleReds(const std::vector<float>& vertices)
{
    std::set<std::pair<int, int>> lit; // row first, the order of Frame::Reds
    for (std::size_t i = 0; i < vertices.size(); i += 3)
        if (const auto pixel = Place(&vertices[i]).pixel)
            lit.emplace(pixel->second, pixel->first);
    std::vector<std::pair<int, int>> reds;
    for (const auto& [row, column] : lit)
        reds.emplace_back(column, row);
    return reds;
}

// `count` random points spread to `spread` times the half-extents on every
// axis, and points just inside and just outside each of the six faces, all
// clear of where rounding decides, and, in the unturned view, one exactly on
// each face; as floats and as the text box's lines.
std::pair<std::vector<float>, std::string> Cloud(int count, float spread, unsigned seed)
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const float w = static_cast<float>(viewport[2]), h = static_cast<float>(viewport[3]);
    const float half[3] = {50 * std::max(w / h, 1.f), 50 * std::max(h / w, 1.f), 50};
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(-1, 1);
    std::vector<float> candidates;
    for (int i = 0; i < count; ++i)
        for (int axis = 0; axis < 3; ++axis)
            candidates.push_back(unit(random) * spread * half[axis]);
    for (int axis = 0; axis < 3; ++axis)
        for (const float side : {-1.f, 1.f})
            for (const float by : {.995f, 1.005f})
                for (int i = 0; i < 3; ++i)
                    for (int k = 0; k < 3; ++k)
                        candidates.push_back(k == axis ? side * by * half[k]
                                                       : unit(random) * .9f * half[k]);
    const std::size_t exact = candidates.size();
    float apart = 0; // each on a pixel of its own
    for (int i = 0; i < 6 && Get(GL_MODELVIEW_MATRIX).isIdentity(); ++i, apart += 3) {
        candidates.insert(candidates.end(), {10.3f + apart, -20.7f + apart, 5.1f});
        candidates[exact + 3 * i + i / 2] = (i % 2 ? 1 : -1) * half[i / 2];
    }
    std::pair<std::vector<float>, std::string> cloud;
    char line[96];
    for (std::size_t i = 0; i < candidates.size(); i += 3) {
        if (i < exact && !Place(&candidates[i]).clear)
            continue;
        cloud.first.insert(cloud.first.end(), &candidates[i], &candidates[i] + 3);
        std::snprintf(line, sizeof line, "%.9g %.9g %.9g\n", double{candidates[i]},
                      double{candidates[i + 1]}, double{candidates[i + 2]});
        cloud.second += line;
    }
    return cloud;
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

// Where the matrices put a point, the rule below decides, checked pixel for
// pixel; these are the matrices and the viewport themselves.
TEST_F(ViewTest, ProjectionKeepsTheShorterSideAtFiftyAndDepthAtFiftyAndArrowsTurnByFive)
{
    // In device pixels, at a ratio a ctest entry may set.
    const double ratio = View()->devicePixelRatioF();
    ASSERT_EQ(ratio, qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? 2 : 1);
    QMatrix4x4 ortho; // the last, square window's: ±50 both ways
    for (const auto& [width, height, halfX, halfY] :
         {std::tuple{400, 200, 100.f, 50.f}, {200, 400, 50.f, 100.f}, {300, 300, 50.f, 50.f}}) {
        Press(Qt::Key_Up);
        ShowViewSized(width, height);
        ortho.setToIdentity();
        ortho.ortho(-halfX, halfX, -halfY, halfY, -50, 50);
        EXPECT_TRUE(Near(Get(GL_PROJECTION_MATRIX), ortho, 1e-7f)) << width << "x" << height;
        EXPECT_EQ(Get(GL_MODELVIEW_MATRIX), QMatrix4x4()) << "a resize keeps the turn";
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(std::vector(viewport, viewport + 4),
                  (std::vector{0, 0, qRound(width * ratio), qRound(height * ratio)}));
    }
    // A client of 0 by 0 is taken as 1 by 1: nothing divides by zero.
    View()->centralWidget()->resize(0, 0);
    View()->FormResize(View());
    EXPECT_TRUE(Near(Get(GL_PROJECTION_MATRIX), ortho, 1e-7f)) << "0 by 0";

    // Each arrow, with or without a modifier, turns about the cloud's own
    // axes; other keys do not.
    ShowViewSized(400, 400);
    QMatrix4x4 expected;
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
    // Turns stay a rotation: the products' errors, left to build up, were
    // 3e-5 off one after 1000 turns, and 1e-7 kept. Given straight to the
    // handler: no frame needs to run between them.
    WORD keys[] = {VK_UP, VK_RIGHT, VK_RIGHT};
    for (int turn = 0; turn < 1000; ++turn)
        View()->FormKeyDown(View(), keys[turn % 3], {});
    const QMatrix4x4 turned = Get(GL_MODELVIEW_MATRIX);
    EXPECT_TRUE(Near(turned.transposed() * turned, QMatrix4x4(), 1e-6f)) << "drifted";
}

TEST_F(ViewTest, EachPointLightsThePixelHoldingItInsideTheViewVolume)
{
    // Small clouds, drawn whole in one frame whichever way the context draws.
    for (const auto& [width, height, turns] :
         {std::tuple{400, 200, std::vector<Qt::Key>{}},
          {200, 400, {}},
          {300, 300, {Qt::Key_Right, Qt::Key_Right, Qt::Key_Up}},
          {410, 230, {Qt::Key_Left, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down}}}) {
        ShowViewSized(width, height);
        for (const Qt::Key key : turns)
            Press(key);
        const auto [vertices, text] = Cloud(800, 1.3f, static_cast<unsigned>(width + height));
        LoadText(*control_Form->Memo1, text);
        EXPECT_EQ(Render().Reds(), RuleReds(vertices)) << width << "x" << height;
    }
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
    InsertAt(memo, 0, "4 5 6\n7 8 9\n");
    EXPECT_EQ(Render().error, "Line 5: 'abc' is not a valid floating point value");
    InsertAt(memo, 4, "9");
    EXPECT_EQ(Render().error, "Line 5: '9abc' is not a valid floating point value");
    ASSERT_TRUE(WaitFor([] {
        return ReportText() == "Line 5: '9abc' is not a valid floating point value";
    })) << "a new text brings a new report into the same box";
    // Emptied, by the keys or by an empty file, the text box gives a black frame.
    for (const bool keys : {true, false}) {
        LoadText(memo, "1 2 3\n-10 20 0\n");
        ASSERT_EQ(Render().Reds().size(), 2u);
        keys ? (memo.SelectAll(), memo.SetSelText({})) : LoadText(memo, "");
        EXPECT_EQ(Render().Reds(), (std::vector<std::pair<int, int>>{})) << keys;
    }
}

TEST_F(ViewTest, AnExposeAResizeAndANewPictureEachReachTheScreen)
{
    // A picture the screen shows already is not presented again; these must be.
    const TGLClient* surface = View()->GLClient();
    QWidget cover;
    cover.setWindowFlags(Qt::X11BypassWindowManagerHint);
    for (const auto& [x, width, covered] :
         {std::tuple{20.3f, 400, true}, {20.3f, 300, false}, {-20.3f, 300, false}}) {
        ShowViewSized(width, 200);
        LoadText(*control_Form->Memo1, std::to_string(x) + " " + std::to_string(x / 2) + " 0");
        const auto shows = [&] {
            const QImage screen = surface->screen()->grabWindow(surface->winId()).toImage();
            return Frame{screen, 0, {}}.Reds() == RuleReds({x, x / 2, 0});
        };
        ASSERT_TRUE(WaitFor(shows)) << x << " " << width;
        if (covered) {
            cover.setGeometry(QRect(surface->mapToGlobal(QPoint()), surface->size()));
            cover.show();
            ASSERT_TRUE(WaitFor([&] { return !shows(); }));
            cover.hide();
            EXPECT_TRUE(WaitFor(shows));
        }
    }
}

// Frames read numbers with the user's decimal separator: where it is a comma,
// a quoted "20 5" (spaces become commas first) is twenty and a half.
// ctest names the locale in LC_ALL: view_test.decimal_comma a German one.
TEST_F(ViewTest, NumbersTakeTheLocalesDecimalSeparator)
{
    const char* locale = std::getenv("LC_ALL");
    const bool comma = locale && std::string_view(locale).starts_with("de_DE");
    TMemo& memo = *control_Form->Memo1;
    LoadText(memo, "\"20 5\" 0 0\n");
    InsertAt(memo, 1, "1 \"2 5\" 3\n");
    const Frame frame = Render();
    EXPECT_EQ(frame.error, comma ? "" : "Line 1: '20,5' is not a valid floating point value");
    if (comma) {
        EXPECT_EQ(frame.Reds().size(), 2u);
    }
}

TEST_F(ViewTest, PictureDrawnInSlicesIsOneDrawsShowsOnlyWhenCompleteAndRestartsOnATurn)
{
    // Framebuffer objects came with OpenGL 3.0; below, every frame draws all.
    if (QOpenGLContext::currentContext()->format().majorVersion() < 3)
        GTEST_SKIP() << "every frame draws all points in one call";
    LoadText(*control_Form->Memo1, "0 0 0\n");
    Render();
    // Points clear of pixel edges once turned, so that both ways agree.
    WORD right = VK_RIGHT, left = VK_LEFT;
    View()->FormKeyDown(View(), right, {});
    const auto [vertices, text] = Cloud(100'000, .98f, 3);
    View()->FormKeyDown(View(), left, {});
    // After more points far out than the compute shader takes in a slice
    // (4M at most), so that later slices draw the cloud, read in place or
    // copied. A slice or so, then a turn that starts it again: given straight
    // to the handler, since a key sent as an event lets frames run uncounted.
    std::string far = "999 999 999\n";
    for (int i = 0; i < 22; ++i) // 4M lines
        far += far;
    LoadText(*control_Form->Memo1, far + text);
    const QImage shown = Render().image;
    View()->FormKeyDown(View(), right, {});
    const auto expected = RuleReds(vertices);
    GLuint drawn = 0;
    Frame frame;
    for (int frames = 0; (frame = Render()).Reds() != expected; ++frames) {
        ASSERT_EQ(frame.image, shown) << "frame " << frames << " shows a part picture";
        ASSERT_LT(frames, 10000);
        drawn += frame.drawn;
    }
    // A point drawn twice by a compute shader cannot be seen, nor counted.
    if (!Computing()) {
        EXPECT_EQ(drawn + frame.drawn, vertices.size() / 3 + (4 << 20)) << "drawn twice, or not";
    }
    EXPECT_EQ(Render().drawn, 0u) << "an unchanged scene drawn again";
}

// After it the view draws directly: last of those that look at its pictures.
TEST_F(ViewTest, AFramebufferWithoutRoomForItsPictureFallsBackAndStillShowsThePoints)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer's allocator ends the program where memory runs out";
#endif
    // Pictures of 64 MB, more than a heap of the C library holds once what
    // earlier tests freed is given back: each needs room in the address
    // space. None is left part drawn at that size.
    LoadText(*control_Form->Memo1, "");
    malloc_trim(0);
    ShowViewSized(4096, 4096);
    const auto [vertices, text] = Cloud(800, 1.3f, 5);
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    const rlimit unlimited = limit;
    limit.rlim_cur = static_cast<rlim_t>(StatusBytes("VmSize")) + (16 << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
    LoadText(*control_Form->Memo1, text); // a new picture, in the other framebuffer
    View()->DrawFrame();
    setrlimit(RLIMIT_AS, &unlimited);
    // Every frame now draws the points, an unchanged scene too.
    const Frame frame = Render(GL_PRIMITIVES_GENERATED);
    EXPECT_EQ(frame.drawn, vertices.size() / 3);
    // Where each lands, the pixel rule is checked on smaller windows: here
    // the driver snaps points coarser than the rule's margin.
    EXPECT_EQ(frame.Reds().size(), RuleReds(vertices).size());
}

TEST(KeepRotation, TakesAMatrixNearARotationBackToIt)
{
    QMatrix4x4 turned;
    turned.translate(1, 2, 3);
    turned.rotate(30, 1, 2, 3);
    // A rotation times a symmetric matrix near I has that rotation nearest.
    const QMatrix4x4 stretch(1.001f, 5e-4f, 0, 0, 5e-4f, .999f, 0, 0, 0, 0, 1.0002f, 0, 0, 0, 0, 1);
    for (const auto& [row, m, expected] :
         {std::tuple{0, QMatrix4x4(), QMatrix4x4()}, {1, turned * stretch, turned}}) {
        std::array<float, 16> in;
        std::copy(m.constData(), m.constData() + 16, in.begin());
        EXPECT_TRUE(Near(QMatrix4x4(NearestRotation(in).data()).transposed(), expected, 1e-5f))
            << row;
    }
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);
    return RUN_ALL_TESTS();
}
