// The layer in the platform's place: idle calls, the report of failures,
// loading files into the text box, and the lines it holds.
#include "application.h"
#include "files.h"
#include "qt.h"
#include "report.h"

#include <QTest>
#include <gmock/gmock.h>

#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace {

using ::testing::ThrowsMessage;

class Framework : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { (application = std::make_unique<TApplication>())->Initialize(); }
    // Ended, so that the libraries under Qt free what they hold.
    static void TearDownTestSuite() { application.reset(); }
    void TearDown() override
    {
        Application->SetOnIdle(nullptr);
        CloseReport();
    }
    static inline std::unique_ptr<TApplication> application;
};

TEST_F(Framework, IdleHandlerWaitsForAMessageUnlessItAsksToBeCalledAgain)
{
    // Done set false: called again with no message between, until it quits.
    int calls = 0;
    QEventLoop loop;
    Application->SetOnIdle([&](TObject*, bool& Done) {
        Done = false;
        if (++calls == 1000)
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit); // gives up
    loop.exec();
    ASSERT_EQ(calls, 1000) << "not called again without a message";
    // Done left true: a call after a message, then none while no message comes.
    calls = 0;
    Application->SetOnIdle([&](TObject*, bool&) { ++calls; });
    ASSERT_TRUE(WaitFor([&] { return calls > 0; }));
    const int before = calls;
    for (int i = 0; i < 100; ++i)
        QCoreApplication::processEvents(); // what is due, without waiting
    EXPECT_LE(calls, before + 1) << "called again without a message";
}

TEST_F(Framework, FailuresAreReportedInOneBoxWithTheStartAndEndOfLongMessages)
{
    Guard([] { throw EConvertError("'x' is not a valid floating point value"); });
    EXPECT_EQ(ReportText(), "'x' is not a valid floating point value");
    Guard([] { throw std::runtime_error("other"); });
    EXPECT_EQ(ReportText(), "other") << "a second report replaces the first";
    Guard([] {
        throw Exception(std::string(299, 'a') + "\xc3\xa9" + std::string(1 << 20, 'b') + "cc");
    });
    EXPECT_EQ(ReportText(), std::string(299, 'a') + "..." + std::string(198, 'b') + "cc");
}

TEST_F(Framework, RecurringFailureWaitsForStillTextAndComesOncePerText)
{
    int calls = 0;
    bool typing = true;
    Application->SetOnIdle([&](TObject*, bool& Done) {
        Done = false;
        ++calls;
        if (typing)
            NoteEdit(); // a key in the same moment
        throw Exception("Line 1: bad");
    });
    ASSERT_TRUE(WaitFor([&] { return calls >= 200; }));
    EXPECT_EQ(ReportText(), "") << "reported while the text was changing";
    typing = false;
    ASSERT_TRUE(WaitFor([] { return ReportText() == "Line 1: bad"; }));
    CloseReport(); // as the user closes it
    const int closedAt = calls;
    ASSERT_TRUE(WaitFor([&] { return calls >= closedAt + 200; }));
    EXPECT_EQ(ReportText(), "") << "the same text reported again";
    NoteEdit();
    EXPECT_TRUE(WaitFor([] { return ReportText() == "Line 1: bad"; })) << "a new text not reported";
}

std::vector<std::string> LinesOf(const TMemo& memo)
{
    std::vector<std::string> lines;
    for (std::int64_t i = 0; i < memo.Lines->Count(); ++i)
        lines.push_back(memo.Lines->Strings(i));
    return lines;
}

TEST_F(Framework, LoadKeepsEveryByteAndBreaksLinesAtCrLfCrOrLf)
{
    std::string bytes; // all but the breaks
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i == '\n' || i == '\r' ? 'x' : i);
    const std::string piece((4 << 20) - 1, '7'); // a CR LF across the pieces a file is read in
    const std::pair<std::string, std::vector<std::string>> files[] = {
        {"1 2 3\r\n4 5 6\r\n", {"1 2 3", "4 5 6"}}, {"1\r\n2\r3\n4", {"1", "2", "3", "4"}},
        {"1\n\n2\r\r", {"1", "", "2", ""}},         {"", {}},
        {bytes + "\n" + bytes, {bytes, bytes}},     {piece + "\r\n8", {piece, "8"}}};
    TMemo memo;
    for (const auto& [text, lines] : files) {
        LoadText(memo, text);
        EXPECT_EQ(TextOf(memo), text) << text.substr(0, 20);
        EXPECT_EQ(LinesOf(memo), lines) << text.substr(0, 20);
    }
}

TEST_F(Framework, FileThatCannotBeReadIsNamedWithTheReasonAndTheTextStays)
{
    const auto fifo = TempFile("fifo", ""), large = TempFile("large.xyz", "1 2 3\n"),
               small = TempFile("small.xyz", "1 2 3\n");
    std::filesystem::remove(fifo);
    ::mkfifo(fifo.c_str(), 0600);
    // Larger than memory and swap together: sparse, it costs no disk.
    struct sysinfo machine
    {
    };
    ::sysinfo(&machine);
    std::filesystem::resize_file(large, (machine.totalram + machine.totalswap + 1) *
                                            std::uint64_t{machine.mem_unit});
    TMemo memo;
    LoadText(memo, "1 1 1\n");
    const std::pair<std::string, std::string> files[] = {
        {large.string() + ".d/missing.xyz", "No such file or directory"},
        {fifo.parent_path().string(), "Is a directory"},
        {fifo.string(), "It is not a regular file."},
        {"/dev/zero", "It is not a regular file."},
        {large.string(), "There is not enough memory to load it."},
    };
    for (const auto& [path, reason] : files) {
        EXPECT_THAT([&] { memo.Lines->LoadFromFile(path); },
                    ThrowsMessage<Exception>("Cannot open file \"" + path + "\". " + reason));
        EXPECT_EQ(TextOf(memo), "1 1 1\n") << path;
    }
    for (const auto& file : {fifo, large, small})
        std::filesystem::remove(file);
}

} // namespace
