// The view as the user sees it: pixels read back from the frame, the turning
// keys, and how a line that is not a point is reported.
#include "program.h"

#include <GL/gl.h>
#include <QApplication>
#include <QMessageBox>

#include <array>
#include <cmath>
#include <vector>

namespace {

struct Frame
{
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;
    std::vector<float> depth;

    bool Red(int x, int row) const
    {
        const unsigned char* p =
            &rgba[static_cast<std::size_t>((height - 1 - row) * width + x) * 4];
        return p[0] == 255 && p[1] == 0 && p[2] == 0;
    }
    int RedCount() const
    {
        int n = 0;
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x)
                n += Red(x, row) ? 1 : 0;
        return n;
    }
    // The red pixel's column and row from the top; -1, -1 where there is none.
    std::pair<int, int> FirstRed() const
    {
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x)
                if (Red(x, row))
                    return {x, row};
        return {-1, -1};
    }
    float DepthAt(int x, int row) const
    {
        return depth[static_cast<std::size_t>((height - 1 - row) * width + x)];
    }
};

void ShowViewSized(int width, int height)
{
    view_Form->Show();
    view_Form->resize(width, height);
    ASSERT_TRUE(WaitFor([&] {
        return view_Form->ClientWidth() == width && view_Form->ClientHeight() == height &&
               view_Form->ViewW == static_cast<float>(width);
    }));
    // The GL buffers follow the X window, which the server sizes a moment later.
    const QWindow* surface = view_Form->GLClient();
    ASSERT_TRUE(WaitFor([&] {
        return surface->isExposed() && surface->width() == width && surface->height() == height;
    }));
    const auto presented = PresentedFrames(view_Form->DC);
    ASSERT_TRUE(WaitFor([&] { return PresentedFrames(view_Form->DC) > presented + 1; }));
}

// Draws one frame as the idle handler does and reads it back before the swap.
Frame Render()
{
    view_Form->DrawFrame();
    Frame frame;
    frame.width = view_Form->ClientWidth();
    frame.height = view_Form->ClientHeight();
    frame.rgba.resize(static_cast<std::size_t>(frame.width * frame.height) * 4);
    frame.depth.resize(static_cast<std::size_t>(frame.width * frame.height));
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, frame.width, frame.height, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
    glReadPixels(0, 0, frame.width, frame.height, GL_DEPTH_COMPONENT, GL_FLOAT, frame.depth.data());
    return frame;
}

std::array<float, 16> Matrix(GLenum which)
{
    std::array<float, 16> m{};
    glGetFloatv(which, m.data());
    return m;
}

void ExpectMatrixNear(const std::array<float, 16>& actual, const std::array<float, 16>& expected,
                      float tolerance)
{
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

constexpr std::array<float, 16> kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(view_Form->GLClient(), key, modifiers);
}

class ViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ShowViewSized(400, 400);
        if (QMessageBox* box = Application->ReportBox())
            box->close();
    }
};

TEST_F(ViewTest, ContextIsCurrentAndSurvivesHidingAndShowing)
{
    ASSERT_NE(view_Form->GLRC, nullptr);
    EXPECT_EQ(QOpenGLContext::currentContext(), view_Form->GLRC);
    const HGLRC context = view_Form->GLRC;
    const HDC dc = view_Form->DC;
    view_Form->close();
    EXPECT_FALSE(view_Form->isVisible());
    view_Form->Show();
    EXPECT_TRUE(view_Form->isVisible());
    EXPECT_EQ(view_Form->GLRC, context);
    EXPECT_EQ(view_Form->DC, dc);
    EXPECT_EQ(QOpenGLContext::currentContext(), context);
}

TEST_F(ViewTest, EmptyTextDrawsBlack)
{
    SetPointsText("");
    const Frame frame = Render();
    EXPECT_EQ(frame.RedCount(), 0);
    for (std::size_t i = 0; i < frame.rgba.size(); i += 4)
        ASSERT_EQ(frame.rgba[i] + frame.rgba[i + 1] + frame.rgba[i + 2], 0) << "pixel " << i / 4;
}

// Where the projection puts a point, for each shape of the client area.
TEST_F(ViewTest, ProjectionKeepsTheShorterSideAtFifty)
{
    struct Case
    {
        int width, height;
        float halfX, halfY;
    };
    const Case cases[] = {{400, 200, 100, 50}, {200, 400, 50, 100}, {300, 300, 50, 50}};
    for (const Case& c : cases) {
        ShowViewSized(c.width, c.height);
        const std::array<std::array<float, 2>, 5> spots = {{{0, 0},
                                                            {0.9f * c.halfX, 0},
                                                            {-0.9f * c.halfX, 0},
                                                            {0, 0.9f * c.halfY},
                                                            {0, -0.9f * c.halfY}}};
        for (const auto& [x, y] : spots) {
            SetPointsText(std::to_string(x) + " " + std::to_string(y) + " 0");
            const Frame frame = Render();
            ASSERT_EQ(frame.RedCount(), 1) << c.width << "x" << c.height << " at " << x << "," << y;
            const auto [column, row] = frame.FirstRed();
            EXPECT_NEAR(column, (x / c.halfX + 1) / 2 * static_cast<float>(c.width), 1.5);
            EXPECT_NEAR(row, (1 - y / c.halfY) / 2 * static_cast<float>(c.height), 1.5);
        }
        // Just outside the region on either axis nothing shows.
        SetPointsText(std::to_string(1.02f * c.halfX) + " 0 0\n0 " +
                      std::to_string(-1.02f * c.halfY) + " 0");
        EXPECT_EQ(Render().RedCount(), 0) << c.width << "x" << c.height;
    }
}

TEST_F(ViewTest, ZeroSizedClientAreaDoesNotDivideByZero)
{
    struct Case
    {
        int width, height;
        double right, top;
    };
    const Case cases[] = {{300, 0, 15000, 50}, {0, 0, 50, 50}, {0, 200, 50, 10000}};
    for (const Case& c : cases) {
        view_Form->centralWidget()->resize(c.width, c.height);
        view_Form->FormResize(view_Form);
        const auto m = Matrix(GL_PROJECTION_MATRIX);
        // An orthographic matrix scales by 2 / (right - left) on its diagonal.
        EXPECT_NEAR(2.0 / m[0] / 2.0, c.right, c.right * 1e-5) << c.width << "x" << c.height;
        EXPECT_NEAR(2.0 / m[5] / 2.0, c.top, c.top * 1e-5) << c.width << "x" << c.height;
        EXPECT_TRUE(std::isfinite(m[0]) && std::isfinite(m[5]));
    }
    ShowViewSized(401, 401);
}

TEST_F(ViewTest, DepthClipsBeyondFiftyAndKeepsTheNearerPoint)
{
    SetPointsText("0 0 49\n");
    EXPECT_EQ(Render().RedCount(), 1);
    SetPointsText("0 0 51\n0 0 -51\n");
    EXPECT_EQ(Render().RedCount(), 0);

    // z points toward the viewer, so z = 10 is nearer than z = -10, whatever
    // the order of the lines.
    for (const char* text : {"0 0 10\n0 0 -10\n", "0 0 -10\n0 0 10\n"}) {
        SetPointsText(text);
        const Frame frame = Render();
        ASSERT_EQ(frame.RedCount(), 1) << text;
        const auto [column, row] = frame.FirstRed();
        EXPECT_NEAR(frame.DepthAt(column, row), 0.4f, 0.01f) << text;
    }
}

TEST_F(ViewTest, ArrowKeysTurnAndOppositeKeysUndo)
{
    ShowViewSized(402, 402);
    ExpectMatrixNear(Matrix(GL_MODELVIEW_MATRIX), kIdentity, 0);

    const std::pair<Qt::Key, Qt::Key> opposites[] = {{Qt::Key_Up, Qt::Key_Down},
                                                     {Qt::Key_Left, Qt::Key_Right}};
    for (const auto& [there, back] : opposites) {
        PressKey(there);
        const auto turned = Matrix(GL_MODELVIEW_MATRIX);
        EXPECT_NEAR(turned[0] * turned[5] * turned[10], std::pow(std::cos(5.0 * M_PI / 180), 2),
                    1e-5);
        PressKey(back);
        ExpectMatrixNear(Matrix(GL_MODELVIEW_MATRIX), kIdentity, 1e-6f);
    }

    for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right}) {
        for (int i = 0; i < 72; ++i)
            PressKey(key);
        ExpectMatrixNear(Matrix(GL_MODELVIEW_MATRIX), kIdentity, 1e-4f);
    }
}

TEST_F(ViewTest, TurningMovesPointsAndAResizeTurnsThemBack)
{
    ShowViewSized(400, 400);
    SetPointsText("40 0 0\n");
    const auto [startColumn, startRow] = Render().FirstRed();
    EXPECT_NEAR(startColumn, 360, 1);
    EXPECT_NEAR(startRow, 200, 1);

    // A quarter turn about y brings the point on the x axis to the centre.
    for (int i = 0; i < 18; ++i)
        PressKey(Qt::Key_Right);
    const auto [column, row] = Render().FirstRed();
    EXPECT_NEAR(column, 200, 1);
    EXPECT_NEAR(row, 200, 1);

    ShowViewSized(410, 410);
    ExpectMatrixNear(Matrix(GL_MODELVIEW_MATRIX), kIdentity, 0);
}

TEST_F(ViewTest, ModifiersMakeNoDifferenceAndOtherKeysDoNothing)
{
    ShowViewSized(404, 404);
    PressKey(Qt::Key_Up);
    const auto bare = Matrix(GL_MODELVIEW_MATRIX);
    ShowViewSized(406, 406);
    for (const Qt::KeyboardModifiers modifiers :
         {Qt::KeyboardModifiers(Qt::ShiftModifier), Qt::KeyboardModifiers(Qt::ControlModifier)}) {
        PressKey(Qt::Key_Up, modifiers);
        ExpectMatrixNear(Matrix(GL_MODELVIEW_MATRIX), bare, 1e-7f);
        PressKey(Qt::Key_Down);
    }
    for (const Qt::Key key :
         {Qt::Key_A, Qt::Key_Space, Qt::Key_PageUp, Qt::Key_Home, Qt::Key_Escape})
        PressKey(key);
    ExpectMatrixNear(Matrix(GL_MODELVIEW_MATRIX), kIdentity, 1e-6f);
}

QString ReportText()
{
    QMessageBox* box = Application->ReportBox();
    return box && box->isVisible() ? box->text() : QString();
}

TEST_F(ViewTest, BadLineStopsPresentingAndIsReportedOnceTheTextIsStill)
{
    control_Form->Memo1->setFocus();
    SetPointsText("1 2 3\n4 5 6\nabc 1 2\n");
    const auto editedAt = std::chrono::steady_clock::now();
    RunLoopFor(100);
    const auto presented = PresentedFrames(view_Form->DC);
    RunLoopFor(200);
    EXPECT_EQ(PresentedFrames(view_Form->DC), presented) << "a frame with a bad line was shown";
    EXPECT_TRUE(ReportText().isEmpty()) << "reported while the text was still changing";

    ASSERT_TRUE(WaitFor([] { return !ReportText().isEmpty(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - editedAt, TApplication::kStillBeforeReport);
    EXPECT_EQ(ReportText(), "Line 3: 'abc' is not a valid floating point value");
    // The box does not take the keyboard from the text box.
    EXPECT_TRUE(Application->ReportBox()->testAttribute(Qt::WA_ShowWithoutActivating));

    // Not again for the same text.
    Application->ReportBox()->close();
    RunLoopFor(1500);
    EXPECT_TRUE(ReportText().isEmpty());

    // A new text state brings a new report, replacing the text of an open box.
    SetPointsText("1 2 3\n4 5\n");
    ASSERT_TRUE(WaitFor([] { return !ReportText().isEmpty(); }));
    EXPECT_EQ(ReportText(), "Line 2: List index out of bounds (2)");
    SetPointsText("1 2\n");
    ASSERT_TRUE(WaitFor([] { return ReportText().startsWith("Line 1:"); }));
    int visibleBoxes = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        visibleBoxes += qobject_cast<QMessageBox*>(widget) && widget->isVisible() ? 1 : 0;
    EXPECT_EQ(visibleBoxes, 1);

    // Mending the line brings frames back.
    SetPointsText("1 2 3\n");
    const auto before = PresentedFrames(view_Form->DC);
    EXPECT_TRUE(WaitFor([&] { return PresentedFrames(view_Form->DC) > before + 2; }));
}

TEST_F(ViewTest, BadLineKeptUntilEditedIsReportedWhereItNowIs)
{
    const auto frameError = []() -> std::string {
        try {
            view_Form->DrawFrame();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "no error";
    };
    TMemo& memo = *control_Form->Memo1;
    const auto insert = [&memo](int line, const char* text) {
        memo.SendScintilla(
            QsciScintillaBase::SCI_INSERTTEXT,
            static_cast<unsigned long>(memo.SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE,
                                                          static_cast<unsigned long>(line))),
            text);
    };
    SetPointsText("1 2 3\nabc 1 2\n");
    EXPECT_EQ(frameError(), "Line 2: 'abc' is not a valid floating point value");
    EXPECT_EQ(frameError(), "Line 2: 'abc' is not a valid floating point value");
    insert(0, "4 5 6\n7 8 9\n");
    EXPECT_EQ(frameError(), "Line 4: 'abc' is not a valid floating point value");
    insert(3, "9");
    EXPECT_EQ(frameError(), "Line 4: '9abc' is not a valid floating point value");
    insert(3, "1 2 3\n");
    EXPECT_EQ(frameError(), "Line 5: '9abc' is not a valid floating point value");
    SetPointsText("");
    EXPECT_EQ(frameError(), "no error");
}

TEST_F(ViewTest, HiddenViewStillRunsPassesAndReports)
{
    view_Form->close();
    ASSERT_FALSE(view_Form->isVisible());
    SetPointsText("1 2 3\n\n");
    ASSERT_TRUE(WaitFor([] { return !ReportText().isEmpty(); }));
    EXPECT_EQ(ReportText(), "Line 2: List index out of bounds (0)");
    SetPointsText("");
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);
    return RUN_ALL_TESTS();
}
