// The layer in the platform's place: the idle hook's Done flag, the report
// of failures, reading files, and the GL calls on absent handles.
#include "application.h"
#include "controls.h"
#include "files.h"
#include "wgl.h"

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

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

TEST_F(Framework, OverlongReportKeepsItsStartAndEnd)
{
    // 300 bytes are kept before the cut and 200 after it, never half a character.
    const std::string e = "\xc3\xa9";
    struct Case
    {
        std::string message, shown;
    };
    const Case cases[] = {
        {std::string(500, 'd'), std::string(500, 'd')},
        {std::string(300, 'a') + std::string(1 << 20, 'b') + std::string(200, 'c'),
         std::string(300, 'a') + "..." + std::string(200, 'c')},
        {std::string(299, 'a') + e + std::string(1000, 'b') + e + std::string(199, 'c'),
         std::string(299, 'a') + "..." + std::string(199, 'c')},
    };
    for (const Case& c : cases) {
        Application->Guard([&] { throw Exception(c.message); });
        ASSERT_NE(Application->ReportBox(), nullptr);
        EXPECT_EQ(Application->ReportBox()->text().toStdString(), c.shown)
            << c.message.size() << " bytes";
    }
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

// While it lives, this thread reads files as a user does, even as root: the
// capabilities that pass over file permissions are set aside, and put back.
class ReadsAsAUser
{
public:
    ReadsAsAUser()
    {
        if (Capabilities(SYS_capget, saved_) != 0)
            return;
        Data lowered = saved_;
        for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            lowered[0].effective &= ~(1u << capability);
        Capabilities(SYS_capset, lowered);
    }
    ~ReadsAsAUser() { Capabilities(SYS_capset, saved_); }
    ReadsAsAUser(const ReadsAsAUser&) = delete;
    ReadsAsAUser& operator=(const ReadsAsAUser&) = delete;

private:
    using Data = std::array<__user_cap_data_struct, 2>;
    static long Capabilities(long call, Data& data)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(call, &header, data.data());
    }
    Data saved_{};
};

TEST(Files, ReadsBytesOrSaysWhyNot)
{
    const auto dir = std::filesystem::temp_directory_path() / "vost-files-test";
    std::filesystem::create_directories(dir);
    const auto plain = dir / "plain.xyz";
    const std::string bytes("1 2 3\r\n\0\xff\n", 10);
    std::ofstream(plain, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(ReadFileBytes(plain.string()), bytes);

    const auto fifo = dir / "fifo";
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto locked = dir / "locked.xyz";
    std::ofstream(locked) << "1 2 3\n";
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    const ReadsAsAUser user;

    struct Case
    {
        std::string path;
        std::string reason;
    };
    std::vector<Case> cases = {{(dir / "missing.xyz").string(), "No such file or directory"},
                               {dir.string(), "Is a directory"},
                               {fifo.string(), "It is not a regular file."},
                               {"/dev/zero", "It is not a regular file."},
                               {"/dev/urandom", "It is not a regular file."}};
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

// Where two byte strings first differ, in words short enough for a large file.
std::string FirstDifference(const std::string& actual, const std::string& expected)
{
    const auto at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (at.first == actual.end() && at.second == expected.end())
        return {};
    return "got " + std::to_string(actual.size()) + " bytes, expected " +
           std::to_string(expected.size()) + "; first difference at byte " +
           std::to_string(at.first - actual.begin());
}

std::string Slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Files, KeepsEveryByteWhateverTheSizeSaid)
{
    const auto dir = std::filesystem::temp_directory_path() / "vost-files-test";
    std::filesystem::create_directories(dir);
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    struct Case
    {
        std::string name;
        std::string bytes;
    };
    const Case written[] = {{"empty", ""},
                            {"cr-only", "1 2 3\r4 5 6\r7 8 9"},
                            {"binary", binary + "\xc3\x28\xe2\x82" + binary},
                            // Past the size the read starts with, and past its later steps.
                            {"long-line", std::string(3 * 65536 + 17, '7')}};
    for (const Case& c : written) {
        const auto path = dir / c.name;
        std::ofstream(path, std::ios::binary)
            .write(c.bytes.data(), static_cast<std::streamsize>(c.bytes.size()));
        EXPECT_EQ(FirstDifference(ReadFileBytes(path.string()), c.bytes), "") << c.name;
    }
    // The kernel's files say 0 bytes (/proc) or a page (/sys) whatever they hold.
    for (const char* path :
         {"/proc/self/cmdline", "/proc/version", "/sys/devices/system/cpu/online"}) {
        if (!std::filesystem::exists(path))
            continue;
        const std::string bytes = ReadFileBytes(path);
        EXPECT_FALSE(bytes.empty()) << path;
        EXPECT_EQ(FirstDifference(bytes, Slurp(path)), "") << path;
    }
}

TEST(Files, FileGrowingWhileReadGivesWhatWasThere)
{
    // Appended in small pieces while read again and again: every read is a
    // prefix of the final text, at least as long as the start.
    const auto path = std::filesystem::temp_directory_path() / "vost-files-test-growing";
    constexpr std::size_t kStart = 1 << 20;
    constexpr std::size_t kEnd = 4 << 20;
    std::string text(kEnd, '\0');
    for (std::size_t i = 0; i < kEnd; ++i)
        text[i] = static_cast<char>('a' + i % 23);
    std::ofstream(path, std::ios::binary).write(text.data(), kStart);

    std::atomic<bool> written{false};
    std::thread writer([&] {
        std::mt19937 random(7);
        std::ofstream out(path, std::ios::binary | std::ios::app);
        for (std::size_t size = kStart; size < kEnd;) {
            const std::size_t piece = std::min<std::size_t>(random() % 4096 + 1, kEnd - size);
            out.write(text.data() + size, static_cast<std::streamsize>(piece)).flush();
            size += piece;
        }
        written = true;
    });
    std::string failure;
    while (failure.empty() && !written) {
        const std::string bytes = ReadFileBytes(path.string());
        failure = bytes.size() < kStart ? "shorter than at the start"
                                        : FirstDifference(bytes, text.substr(0, bytes.size()));
    }
    writer.join();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(FirstDifference(ReadFileBytes(path.string()), text), "");
}

// How much address space the process has mapped now.
rlim_t MappedBytes()
{
    std::ifstream statm("/proc/self/statm");
    rlim_t pages = 0;
    statm >> pages;
    return pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
}

// In a child process: a text box loads the file with 512 MB left to map (a
// limit on address space, as an allocator fails for want of memory). It says
// what it did and whether the text it held before is still there.
[[noreturn]] void LoadWithLittleMemoryLeft(const std::string& path)
{
    TApplication application;
    Application->Initialize();
    TMemo memo;
    memo.Lines->SetText("1 1 1\n");
    const rlimit limit{MappedBytes() + (512 << 20), RLIM_INFINITY};
    ::setrlimit(RLIMIT_AS, &limit);
    try {
        memo.Lines->LoadFromFile(path);
        std::fprintf(stderr, "loaded %zu bytes\n", memo.Lines->Text().size());
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.Message().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "other failure: %s\n", e.what());
    }
    const bool kept = memo.Lines->Count() == 1 && memo.Lines->View(0) == "1 1 1";
    std::fprintf(stderr, "text kept: %s\n", kept ? "yes" : "no");
    std::_Exit(0);
}

TEST(FilesDeathTest, FileTooLargeForTheMemoryLeftIsRefusedWholeAndOneThatFitsLoads)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator ends the process instead of failing";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case
    {
        std::uintmax_t size;
        std::string outcome;
    };
    const Case cases[] = {
        {4ull << 30, "Cannot open file \".*vost-files-test-large\\.xyz\"\\. There is not enough "
                     "memory to load it\\.\ntext kept: yes"},
        // The same limit takes a smaller file whole.
        {64ull << 20, "loaded 67108864 bytes\ntext kept: no"}};
    const auto path = std::filesystem::temp_directory_path() / "vost-files-test-large.xyz";
    for (const Case& c : cases) {
        std::ofstream(path) << "1 2 3\n";
        std::filesystem::resize_file(path, c.size); // sparse: costs no disk
        EXPECT_EXIT(LoadWithLittleMemoryLeft(path.string()), ::testing::ExitedWithCode(0),
                    c.outcome);
    }
    std::filesystem::remove(path);
}

// Without OpenGL the view holds null handles; every call must take them.
std::string NoteFor(long bytes)
{
    return "A line of " + std::to_string(bytes) + " bytes is not shown: it is too long to lay out.";
}

TEST_F(Framework, TextBoxHidesLinesTooLongToLayOut)
{
    constexpr long longest = TMemo::LongestShownLine;
    const std::string shown(longest, '7');
    std::string shortLines; // up to just short of a load piece, so that the long line spans two
    while (shortLines.size() < (1u << 20) - 100)
        shortLines += "1 2 3\n";
    const int before = static_cast<int>(shortLines.size() / 6);
    const struct
    {
        std::string text;
        std::vector<int> hidden;
    } rows[] = {
        {"1 2 3\n" + shown + "\n4 5 6", {}},
        {"1 2 3\n" + shown + "8\n4 5 6", {1}},
        {shown + "8", {0}},
        {"1\r" + shown + shown + "\r2\r" + shown + "8", {1, 3}},
        {"1\r\n" + shown + "8\r\n\r\n" + shown + shown + "\n", {1, 3}},
        {shortLines + shown + "8\n1 2 3", {before}},
    };
    TMemo memo;
    for (const auto& r : rows) {
        memo.Lines->SetText(r.text);
        ASSERT_EQ(memo.Lines->Text(), r.text);
        std::vector<int> hidden;
        for (int line = 0; line < memo.Lines->TextLineCount(); ++line)
            if (!memo.LineShown(line))
                hidden.push_back(line);
        EXPECT_EQ(hidden, r.hidden) << r.text.substr(0, 20);
    }
    // The note sits under the line before, or under the first shown line.
    memo.Lines->SetText("1 2 3\n" + shown + "8\n" + shown + "88\n4 5 6");
    EXPECT_EQ(memo.NoteUnder(0), NoteFor(longest + 1) + "\n" + NoteFor(longest + 2));
    EXPECT_EQ(memo.NoteUnder(3), "");
    memo.Lines->SetText(shown + "8\n4 5 6");
    EXPECT_EQ(memo.NoteUnder(1), NoteFor(longest + 1));
    EXPECT_EQ(memo.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS), longest + 2)
        << "the caret left in the hidden line";
}

TEST_F(Framework, TextBoxEditsHideAndShowLinesAndKeysTakeHiddenLinesWhole)
{
    TMemo memo;
    const auto position = [&memo](int line, bool end) {
        return memo.SendScintilla(end ? QsciScintillaBase::SCI_GETLINEENDPOSITION
                                      : QsciScintillaBase::SCI_POSITIONFROMLINE,
                                  static_cast<unsigned long>(line));
    };
    memo.Lines->SetText("1 2 3\n4 5 6\n7 8 9");
    const std::string filling(TMemo::LongestShownLine, 'x');
    memo.SendScintilla(QsciScintillaBase::SCI_INSERTTEXT,
                       static_cast<unsigned long>(position(1, false)), filling.c_str());
    QCoreApplication::processEvents();
    EXPECT_FALSE(memo.LineShown(1));
    EXPECT_EQ(memo.NoteUnder(0), NoteFor(TMemo::LongestShownLine + 5));
    memo.SendScintilla(QsciScintillaBase::SCI_DELETERANGE,
                       static_cast<unsigned long>(position(1, false)), 5L); // the longest shown
    QCoreApplication::processEvents();
    EXPECT_TRUE(memo.LineShown(1));
    EXPECT_EQ(memo.NoteUnder(0), "");

    const std::string hidden = filling + "xx";
    const struct
    {
        Qt::Key key;
        int line; // where the caret is: the start of the line, or the end for Delete
        std::string selected;
    } keys[] = {
        {Qt::Key_Backspace, 2, hidden + "\n"},
        {Qt::Key_Delete, 0, "\n" + hidden},
    };
    for (const auto& k : keys) {
        memo.Lines->SetText("1 2 3\n" + hidden + "\n4 5 6");
        memo.SendScintilla(QsciScintillaBase::SCI_GOTOPOS,
                           static_cast<unsigned long>(position(k.line, k.key == Qt::Key_Delete)));
        QTest::keyClick(&memo, k.key);
        EXPECT_EQ(memo.selectedText().toStdString(), k.selected);
        QTest::keyClick(&memo, k.key);
        QCoreApplication::processEvents();
        EXPECT_EQ(memo.Lines->Text(), "1 2 3\n4 5 6");
        EXPECT_EQ(memo.NoteUnder(0), "");
    }
    // Pasted, a long line is hidden before the caret is shown, outside it.
    memo.Lines->SetText("1 2 3\n4 5 6");
    memo.SendScintilla(QsciScintillaBase::SCI_GOTOPOS,
                       static_cast<unsigned long>(position(1, false)));
    QApplication::clipboard()->setText(QString::fromStdString("7 8 9\n" + hidden));
    QTest::keyClick(&memo, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(memo.Lines->Text(), "1 2 3\n7 8 9\n" + hidden + "4 5 6");
    EXPECT_FALSE(memo.LineShown(2));
    EXPECT_EQ(memo.NoteUnder(1), NoteFor(static_cast<long>(hidden.size()) + 5));
    EXPECT_EQ(memo.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS), position(1, false));
    memo.SendScintilla(QsciScintillaBase::SCI_UNDO);
    EXPECT_EQ(memo.Lines->Text(), "1 2 3\n4 5 6") << "the paste is one step to undo";

    // Elsewhere the keys are as ever.
    memo.SendScintilla(QsciScintillaBase::SCI_GOTOPOS,
                       static_cast<unsigned long>(position(1, false)));
    QTest::keyClick(&memo, Qt::Key_Backspace);
    EXPECT_EQ(memo.Lines->Text(), "1 2 34 5 6");
}

TEST_F(Framework, TextBoxKeepsTheCaretAndThePointerOutOfLongLines)
{
    const std::string tooLong(TMemo::LongestShownLine + 1, 'x');
    const std::string texts[] = {tooLong + "\n" + tooLong + "\n1 2 3\n4 5 6",
                                 "1 2 3\n4 5 6\n" + tooLong, "1 2 3\n" + tooLong + "\n" + tooLong,
                                 tooLong + "\n1 2 3\n" + tooLong, tooLong + "\n" + tooLong};
    using K = QKeyCombination;
    const Qt::KeyboardModifiers control = Qt::ControlModifier;
    const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::ShiftModifier;
    const K keys[] = {K(Qt::Key_Up),
                      K(Qt::Key_Down),
                      K(Qt::Key_PageUp),
                      K(Qt::Key_PageDown),
                      K(Qt::Key_Left),
                      K(Qt::Key_Right),
                      K(control, Qt::Key_Left),
                      K(control, Qt::Key_Right),
                      K(Qt::Key_Home),
                      K(Qt::Key_End),
                      K(control, Qt::Key_Home),
                      K(control, Qt::Key_End),
                      K(both, Qt::Key_Home),
                      K(both, Qt::Key_End),
                      K(Qt::ShiftModifier, Qt::Key_Down),
                      K(control, Qt::Key_BracketLeft),
                      K(control, Qt::Key_BracketRight)};
    TMemo memo;
    memo.resize(400, 300);
    memo.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&memo));
    const auto caretLine = [&memo] {
        return static_cast<int>(memo.SendScintilla(
            QsciScintillaBase::SCI_LINEFROMPOSITION,
            static_cast<unsigned long>(memo.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS))));
    };
    for (const std::string& text : texts) {
        memo.Lines->SetText(text);
        const int lines = memo.Lines->TextLineCount();
        const std::string layout =
            std::to_string(text.size()) + " bytes, " + std::to_string(lines) + " lines";
        if (memo.NoLineShown()) {
            for (const K key : keys)
                QTest::keyClick(&memo, key.key(), key.keyboardModifiers());
            QTest::mouseClick(memo.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
            EXPECT_EQ(memo.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS), 0) << layout;
            continue;
        }
        for (int line = 0; line < lines; ++line) {
            if (!memo.LineShown(line))
                continue;
            for (const unsigned int where : {QsciScintillaBase::SCI_POSITIONFROMLINE,
                                             QsciScintillaBase::SCI_GETLINEENDPOSITION}) {
                for (const K key : keys) {
                    memo.SendScintilla(QsciScintillaBase::SCI_SETEMPTYSELECTION,
                                       static_cast<unsigned long>(memo.SendScintilla(
                                           where, static_cast<unsigned long>(line))));
                    QTest::keyClick(&memo, key.key(), key.keyboardModifiers());
                    EXPECT_TRUE(memo.LineShown(caretLine()))
                        << layout << ": " << QKeySequence(key).toString().toStdString()
                        << " from line " << line;
                }
            }
        }
        // A click below the text, and all selected and then left.
        QTest::mouseClick(memo.viewport(), Qt::LeftButton, {},
                          QPoint(20, memo.viewport()->height() - 5));
        EXPECT_TRUE(memo.LineShown(caretLine())) << layout << ": a click below the text";
        QTest::keyClick(&memo, Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(memo.selectedText().size(), static_cast<qsizetype>(text.size())) << layout;
        for (const Qt::Key key : {Qt::Key_Right, Qt::Key_Down}) {
            QTest::keyClick(&memo, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(&memo, key);
            EXPECT_TRUE(memo.LineShown(caretLine()))
                << layout << ": all selected, then " << QKeySequence(key).toString().toStdString();
        }
        EXPECT_EQ(memo.Lines->Text(), text) << "a key changed the text";
    }
}

TEST(Wgl, NullHandlesAreRefusedOrIgnored)
{
    const PIXELFORMATDESCRIPTOR descriptor{};
    EXPECT_EQ(GetDC(nullptr), nullptr);
    EXPECT_EQ(ChoosePixelFormat(nullptr, &descriptor), 0);
    EXPECT_EQ(SetPixelFormat(nullptr, 1, &descriptor), FALSE);
    EXPECT_EQ(wglCreateContext(nullptr), nullptr);
    EXPECT_EQ(wglMakeCurrent(nullptr, nullptr), TRUE);
    EXPECT_EQ(wglDeleteContext(nullptr), FALSE);
    EXPECT_EQ(SwapBuffers(nullptr), FALSE);
    EXPECT_EQ(PresentedFrames(nullptr), 0u);
    ReleaseDC(nullptr, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
