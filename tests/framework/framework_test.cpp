// The layer in the platform's place: the idle hook's Done flag, the report
// of failures, and reading files.
#include "application.h"
#include "files.h"

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace {

class Framework : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        application = new TApplication;
        Application->Initialize();
    }
    static void TearDownTestSuite() { delete application; }
    void TearDown() override
    {
        Application->SetOnIdle(nullptr);
        if (QMessageBox* box = Application->ReportBox())
            box->close();
        QTest::qWait(1);
    }
    static TApplication* application;
};

TApplication* Framework::application = nullptr;

// Runs the loop as the program does, one that waits for messages.
void RunLoopFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST_F(Framework, IdleLeftDoneWaitsForTheNextMessage)
{
    int calls = 0;
    Application->SetOnIdle([&](TObject*, bool&) { ++calls; });
    RunLoopFor(300);
    const int quiet = calls;
    EXPECT_GE(quiet, 1);
    EXPECT_LE(quiet, 5) << "called again without a message";

    // Messages, each followed by an empty queue: a call after each.
    QObject receiver;
    for (int i = 0; i < 3; ++i) {
        QTimer::singleShot(20 * (i + 1), &receiver, [] {});
    }
    RunLoopFor(200);
    EXPECT_GE(calls, quiet + 3);
    EXPECT_LE(calls, quiet + 12);
}

TEST_F(Framework, IdleSettingDoneFalseIsCalledAgainAtOnce)
{
    int calls = 0;
    Application->SetOnIdle([&](TObject*, bool& Done) {
        ++calls;
        Done = false;
    });
    QTest::qWait(200);
    EXPECT_GT(calls, 50);
}

TEST_F(Framework, HandlerFailureIsReportedAndTheLoopGoesOn)
{
    Application->Guard([] { throw EConvertError("'x' is not a valid floating point value"); });
    ASSERT_NE(Application->ReportBox(), nullptr);
    EXPECT_EQ(Application->ReportBox()->text(), "'x' is not a valid floating point value");
    Application->Guard([] { throw std::runtime_error("other"); });
    EXPECT_EQ(Application->ReportBox()->text(), "other");
}

TEST_F(Framework, RecurringFailureWaitsForStillTextAndComesOncePerText)
{
    int calls = 0;
    Application->SetOnIdle([&](TObject*, bool& Done) {
        ++calls;
        Done = false;
        throw Exception("Line 1: bad");
    });
    Application->NoteEdit();
    QTest::qWait(500);
    EXPECT_GT(calls, 10) << "a failing idle handler must keep being called";
    EXPECT_EQ(Application->ReportBox(), nullptr) << "reported while the text was changing";
    QTest::qWait(700);
    ASSERT_NE(Application->ReportBox(), nullptr);
    EXPECT_EQ(Application->ReportBox()->text(), "Line 1: bad");
    Application->ReportBox()->close();
    QTest::qWait(1200);
    EXPECT_TRUE(!Application->ReportBox() || !Application->ReportBox()->isVisible());
}

TEST(Files, ReadsBytesOrSaysWhyNot)
{
    const auto dir = std::filesystem::temp_directory_path() / "vost-files-test";
    std::filesystem::create_directories(dir);
    const auto plain = dir / "plain.xyz";
    const std::string bytes("1 2 3\r\n\0\xff\n", 10);
    std::ofstream(plain, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(ReadFileBytes(plain.string()), bytes);

    const auto fifo = dir / "fifo";
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto locked = dir / "locked.xyz";
    std::ofstream(locked) << "1 2 3\n";
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    const bool root = ::geteuid() == 0;

    struct Case
    {
        std::string path;
        std::string reason;
    };
    std::vector<Case> cases = {{(dir / "missing.xyz").string(), "No such file or directory"},
                               {dir.string(), "Is a directory"},
                               {fifo.string(), "It is not a regular file."},
                               {"/dev/urandom", "It is not a regular file."}};
    if (!root)
        cases.push_back({locked.string(), "Permission denied"});
    for (const Case& c : cases) {
        try {
            ReadFileBytes(c.path);
            ADD_FAILURE() << c.path << " was read";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Cannot open file \"" + c.path + "\". " + c.reason);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
