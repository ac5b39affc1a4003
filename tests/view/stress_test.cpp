// The whole program under long use: the view shown and hidden a thousand
// times, ten thousand turning keys, a storm of resizes, a line of 100 MB;
// and, run a second time without OpenGL (ctest's stress_test.without_opengl),
// the same windows with null GL handles, through to shutdown.
#include "program.h"

#include <GL/gl.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator keeps its own count (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

// Heap bytes in use now: the allocator's own count, which, unlike the
// resident size, does not include memory freed and kept for reuse.
long long HeapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
#endif
}

// How much more heap a long run may hold than its warmed-up start: room for
// the caches of Qt and Mesa (which keep some buffers of a window's size),
// well below what a window's buffer lost per cycle would add up to.
constexpr long long kHeapSlack = 8 << 20;

// The modal messages shown so far (ShowMessage's, as at start without
// OpenGL), each answered as a person would.
std::vector<std::string> answeredMessages;

void AnswerModalMessages()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible() && box->isModal()) {
            answeredMessages.push_back(box->text().toStdString());
            box->accept();
        }
    }
}

bool OpenGLLeftOut()
{
    const char* integration = std::getenv("QT_XCB_GL_INTEGRATION");
    return integration && std::string(integration) == "none";
}

// As WaitFor, looking more often: a thousand cycles of showing and hiding
// would otherwise spend most of their time waiting for the next look.
bool Until(const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        RunLoopFor(1);
    }
    return true;
}

void ShowView()
{
    view_Form->Show();
    ASSERT_TRUE(Until([] { return view_Form->GLClient()->isExposed(); }));
}

void HideView()
{
    view_Form->close();
    ASSERT_TRUE(Until([] { return !view_Form->GLClient()->isExposed(); }));
}

int WindowCount()
{
    return static_cast<int>(QGuiApplication::allWindows().size());
}

using Matrix = std::array<double, 16>; // column-major, as GL keeps it

Matrix ModelView()
{
    std::array<float, 16> m{};
    glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
    Matrix out{};
    for (std::size_t i = 0; i < 16; ++i)
        out[i] = m[i];
    return out;
}

// The largest departure of the modelview from a rotation: of its columns
// from unit length and from each other, and of its last row and column from
// those of a rotation.
double DepartureFromRotation(const Matrix& m)
{
    double worst = 0;
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            double dot = 0;
            for (int k = 0; k < 3; ++k)
                dot +=
                    m[static_cast<std::size_t>(a * 4 + k)] * m[static_cast<std::size_t>(b * 4 + k)];
            worst = std::max(worst, std::abs(dot - (a == b ? 1.0 : 0.0)));
        }
        worst = std::max({worst, std::abs(m[static_cast<std::size_t>(a * 4 + 3)]),
                          std::abs(m[static_cast<std::size_t>(12 + a)])});
    }
    return std::max(worst, std::abs(m[15] - 1));
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

// The determinant of the upper 3x3: +1 for a rotation, -1 for a mirroring.
double Determinant(const Matrix& m)
{
    return m[0] * (m[5] * m[10] - m[9] * m[6]) - m[4] * (m[1] * m[10] - m[9] * m[2]) +
           m[8] * (m[1] * m[6] - m[5] * m[2]);
}

class Stress : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (OpenGLLeftOut())
            GTEST_SKIP() << "needs OpenGL";
        ASSERT_NE(view_Form->GLRC, nullptr);
        SetPointsText("10 0 0\n0 10 0\n0 0 10\n");
    }
    void TearDown() override
    {
        if (QMessageBox* box = Application->ReportBox())
            box->close();
    }
};

TEST_F(Stress, ShowingAndHidingAThousandTimesHoldsNothingMore)
{
    const auto cycles = [](int count) {
        for (int i = 0; i < count && !::testing::Test::HasFatalFailure(); ++i) {
            ShowView();
            HideView();
        }
    };
    cycles(20);
    const int windows = WindowCount();
    const auto objects = view_Form->findChildren<QObject*>().size();
    // Mesa makes new buffers for a window that comes back and keeps some for
    // a while, so the heap settles only after some hundred cycles.
    cycles(500);
    const long long heap = HeapInUse();
    cycles(500);
    EXPECT_LT(HeapInUse() - heap, kHeapSlack) << "bytes held after 500 more cycles";
    EXPECT_EQ(WindowCount(), windows);
    EXPECT_EQ(view_Form->findChildren<QObject*>().size(), objects);
    EXPECT_EQ(QOpenGLContext::currentContext(), view_Form->GLRC);
    // The frames go on.
    ShowView();
    const auto presented = PresentedFrames(view_Form->DC);
    EXPECT_TRUE(WaitFor([&] { return PresentedFrames(view_Form->DC) > presented + 2; }));
}

TEST_F(Stress, TenThousandTurnsLeaveTheRotationTheyMake)
{
    ShowView();
    view_Form->resize(300, 300);
    ASSERT_TRUE(WaitFor([] { return view_Form->ViewW == 300; }));
    struct Turn
    {
        Qt::Key key;
        double degrees;
        int axis; // 1 about x, 0 about y
    };
    const Turn turns[] = {
        {Qt::Key_Up, -5, 1}, {Qt::Key_Down, 5, 1}, {Qt::Key_Left, -5, 0}, {Qt::Key_Right, 5, 0}};
    constexpr int kTurns = 10000;
    std::mt19937 random(11);
    Matrix expected = kIdentity;
    const long long heap = HeapInUse();
    for (int i = 0; i < kTurns; ++i) {
        const Turn& turn = turns[random() % 4];
        QTest::keyClick(view_Form->GLClient(), turn.key);
        expected = Product(expected, Rotation(turn.degrees, turn.axis));
        if (i % 500 == 0)
            RunLoopFor(1); // frames in between
    }
    const Matrix m = ModelView();
    // A rotation as a float matrix can be, however many turns made it; its
    // angle may stray by an epsilon a turn.
    constexpr double epsilon = std::numeric_limits<float>::epsilon();
    EXPECT_LT(DepartureFromRotation(m), 4 * epsilon);
    EXPECT_NEAR(Determinant(m), 1.0, 4 * epsilon);
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_NEAR(m[i], expected[i], kTurns * epsilon) << "element " << i;
    EXPECT_LT(HeapInUse() - heap, kHeapSlack);
}

TEST_F(Stress, StormOfResizesEndsInTheLastSize)
{
    ShowView();
    std::mt19937 random(5);
    const long long heap = HeapInUse();
    for (int i = 0; i < 300; ++i) {
        view_Form->resize(static_cast<int>(random() % 900), static_cast<int>(random() % 700));
        QTest::keyClick(view_Form->GLClient(), Qt::Key_Up);
        if (i % 10 == 0)
            QCoreApplication::processEvents();
    }
    view_Form->resize(400, 200);
    ASSERT_TRUE(WaitFor([] {
        return view_Form->ClientWidth() == 400 && view_Form->ClientHeight() == 200 &&
               view_Form->ViewW == 400 && view_Form->GLClient()->width() == 400;
    }));
    RunLoopFor(100);
    EXPECT_LT(HeapInUse() - heap, kHeapSlack);
    // A resize turns the view back; the projection is the last size's.
    EXPECT_EQ(ModelView(), kIdentity);
    std::array<float, 16> projection{};
    glGetFloatv(GL_PROJECTION_MATRIX, projection.data());
    EXPECT_NEAR(2.0 / projection[0], 200.0, 1e-3); // x spans -100 to 100
    EXPECT_NEAR(2.0 / projection[5], 100.0, 1e-3); // y spans -50 to 50
    SetPointsText("40 0 0\n");
    const auto presented = PresentedFrames(view_Form->DC);
    EXPECT_TRUE(WaitFor([&] { return PresentedFrames(view_Form->DC) > presented + 2; }));
}

// The longest time in ms the loop was held up while `action` and a second
// after it ran: how long a 10 ms timer went without a tick.
long long LongestStall(const std::function<void()>& action)
{
    QElapsedTimer clock;
    long long last = 0;
    long long longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    clock.start();
    action();
    RunLoopFor(1000);
    return std::max(longest, clock.elapsed() - last);
}

TEST_F(Stress, LinesOf100MegabytesLoadAndTheProgramAnswers)
{
    const std::string huge(100 << 20, 'x');
    const struct
    {
        std::string before;
        std::string after;
        int badLine; // as the report counts
    } files[] = {
        {"1 2 3\n", " 4 5\n", 2},
        {"", "\n1 2 3\n", 1}, // the text box never hides a first line
        {"1 2 3\n", "", 2},   // nor does a last line end in a break
        {"", "", 1},          // and this one is all there is
    };
    TMemo& memo = *control_Form->Memo1;
    control_Form->Show();
    control_Form->activateWindow();
    memo.setFocus(); // input methods ask the text box about the caret's line
    // Held up longer than this, the program would seem to hang.
    constexpr long long kStall = 300;
    for (const auto& f : files) {
        const std::string name = f.before + "<100 MB>" + f.after;
        const auto path = std::filesystem::temp_directory_path() / "vost-stress-long-line.xyz";
        std::ofstream(path, std::ios::binary) << f.before << huge << f.after;
        if (QMessageBox* box = Application->ReportBox())
            box->close();
        memo.Lines->LoadFromFile(path.string());
        std::filesystem::remove(path);
        ASSERT_GE(memo.Lines->View(f.badLine - 1).size(), huge.size());

        // The view says which line is bad, quoting the field by its ends.
        ASSERT_TRUE(WaitFor(
            [] {
                QMessageBox* box = Application->ReportBox();
                return box && box->isVisible();
            },
            std::chrono::seconds(20)));
        const QString report = Application->ReportBox()->text();
        EXPECT_TRUE(report.startsWith(QString("Line %1: 'xxx").arg(f.badLine)))
            << report.left(80).toStdString();
        EXPECT_TRUE(report.endsWith("xxx' is not a valid floating point value"))
            << report.right(80).toStdString();
        EXPECT_LT(report.size(), 400);
        Application->ReportBox()->close();

        // Neither a frame, nor a paint of the text box, nor a key or a click
        // lays the line out or converts it again (a frame took 3 s before,
        // and a paint of the text box 47 s).
        EXPECT_LT(LongestStall([] {}), kStall) << name;
        EXPECT_LT(LongestStall([&memo] {
                      using K = QKeyCombination;
                      for (const K key :
                           {K(Qt::Key_Up), K(Qt::Key_PageUp), K(Qt::ControlModifier, Qt::Key_Home),
                            K(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Home),
                            K(Qt::Key_Left), K(Qt::Key_End), K(Qt::Key_Right), K(Qt::Key_Down),
                            K(Qt::Key_PageDown), K(Qt::ControlModifier, Qt::Key_End)}) {
                          QTest::keyClick(&memo, key.key(), key.keyboardModifiers());
                          RunLoopFor(20);
                      }
                      QTest::mouseClick(memo.viewport(), Qt::LeftButton, {},
                                        QPoint(20, memo.viewport()->height() - 5));
                  }),
                  kStall)
            << "keys and a click with " << name;
        if (!memo.NoLineShown()) {
            const long caret = memo.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS);
            EXPECT_NE(memo.SendScintilla(QsciScintillaBase::SCI_LINEFROMPOSITION,
                                         static_cast<unsigned long>(caret)),
                      f.badLine - 1)
                << "the caret went into the line";
        }
    }
    // Taken whole, the line goes.
    QTest::keyClick(&memo, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&memo, Qt::Key_Delete);
    EXPECT_EQ(memo.Lines->Text(), "");
    SetPointsText("");
}

// Run by ctest with QT_XCB_GL_INTEGRATION=none: no context can be made.
TEST(WithoutOpenGL, WindowsWorkWithNullHandlesToTheEnd)
{
    if (!OpenGLLeftOut())
        GTEST_SKIP() << "run with QT_XCB_GL_INTEGRATION=none";
    EXPECT_EQ(answeredMessages, std::vector<std::string>{":-)~ hrc == NULL"});
    EXPECT_EQ(view_Form->GLRC, nullptr);
    SetPointsText("1 2 3\n4 5 6\n");
    for (int i = 0; i < 20; ++i) {
        ShowView();
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Left, Qt::Key_Down, Qt::Key_Right})
            QTest::keyClick(view_Form->GLClient(), key);
        view_Form->resize(200 + i * 10, 300 - i * 10);
        RunLoopFor(20);
        HideView();
    }
    EXPECT_EQ(PresentedFrames(view_Form->DC), 0u) << "frames presented without a context";
    EXPECT_EQ(answeredMessages, std::vector<std::string>{":-)~ hrc == NULL"});
    // Shutting down releases the handles the view has, and no others.
    Application->DestroyForms();
    EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Made before the program's windows (TApplication then uses it), so that a
    // modal message while they are made is answered.
    QApplication application(argc, argv);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &AnswerModalMessages);
    answer.start(50);
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);
    return RUN_ALL_TESTS();
}
