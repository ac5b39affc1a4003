// The layer in the platform's place: idle calls, the report of failures,
// loading files into the text box, the lines it holds, lines too long to lay
// out, and the GL calls on absent handles.
#include "application.h"
#include "qt.h"
#include "report.h"
#include "wgl.h"

#include <QClipboard>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
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
        CloseReport();
    }
    static TApplication* application;
};

TApplication* Framework::application = nullptr;

TEST_F(Framework, IdleHandlerWaitsForAMessageUnlessItAsksToBeCalledAgain)
{
    int calls = 0;
    Application->SetOnIdle([&](TObject*, bool& Done) { Done = ++calls >= 100; });
    ASSERT_TRUE(WaitFor([&] { return calls >= 100; })) << "not called again at once";

    // Done left true: a call after each message, and none without one.
    calls = 0;
    Application->SetOnIdle([&](TObject*, bool&) { ++calls; });
    QEventLoop loop;
    int messages = 0;
    std::function<void()> next = [&] {
        if (++messages < 20)
            QTimer::singleShot(1, next);
        else
            loop.quit();
    };
    QTimer::singleShot(1, next);
    loop.exec();
    EXPECT_GE(calls, 19);
    EXPECT_LE(calls, 50) << "called again without a message";
}

TEST_F(Framework, FailuresAreReportedInOneBoxWithTheStartAndEndOfLongMessages)
{
    Guard([] { throw EConvertError("'x' is not a valid floating point value"); });
    EXPECT_EQ(ReportText(), "'x' is not a valid floating point value");
    Guard([] { throw std::runtime_error("other"); });
    EXPECT_EQ(ReportText(), "other") << "a second report replaces the first";

    const std::string e = "\xc3\xa9";
    Guard([&] { throw Exception(std::string(299, 'a') + e + std::string(1 << 20, 'b') + "cc"); });
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
    EXPECT_EQ(ReportBox(), nullptr) << "reported while the text was changing";

    typing = false;
    ASSERT_TRUE(WaitFor([] { return ReportBox() != nullptr; }));
    EXPECT_EQ(ReportText(), "Line 1: bad");
    EXPECT_TRUE(ReportBox()->testAttribute(Qt::WA_ShowWithoutActivating));
    ReportBox()->close();
    const int closedAt = calls;
    ASSERT_TRUE(WaitFor([&] { return calls >= closedAt + 200; }));
    EXPECT_EQ(ReportBox(), nullptr) << "the same text reported again";

    NoteEdit();
    EXPECT_TRUE(WaitFor([] { return ReportBox() != nullptr; })) << "a new text not reported";
}

std::vector<std::string> LinesOf(const TMemo& memo)
{
    std::vector<std::string> lines;
    for (int i = 0; i < memo.Lines->Count(); ++i)
        lines.emplace_back(memo.Lines->View(i));
    return lines;
}

TEST_F(Framework, LoadKeepsEveryByteAndBreaksLinesAtCrLfCrOrLf)
{
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i == '\n' || i == '\r' ? 'x' : i);
    const struct
    {
        std::string bytes;
        std::vector<std::string> lines;
    } files[] = {
        {"1 2 3\n4 5 6\n", {"1 2 3", "4 5 6"}},
        {"1 2 3\r\n4 5 6\r\n", {"1 2 3", "4 5 6"}},
        {"1 2 3\r4 5 6\r", {"1 2 3", "4 5 6"}},
        {"1\r\n2\r3\n4", {"1", "2", "3", "4"}},
        {"1 2 3\n\n4 5 6\n", {"1 2 3", "", "4 5 6"}},
        {"1 2 3\n\n", {"1 2 3", ""}},
        {"", {}},
        {binary + "\n" + binary, {binary, binary}},
        // Across the pieces a file is read in.
        {std::string((4 << 20) - 1, '7') + "\r\n8", {std::string((4 << 20) - 1, '7'), "8"}},
    };
    TMemo memo;
    for (const auto& f : files) {
        LoadText(memo, f.bytes);
        EXPECT_EQ(TextOf(memo), f.bytes) << f.bytes.substr(0, 20);
        EXPECT_EQ(LinesOf(memo), f.lines) << f.bytes.substr(0, 20);
    }
    // The kernel's files say 0 bytes (/proc) whatever they hold.
    memo.Lines->LoadFromFile("/proc/version");
    std::ifstream version("/proc/version");
    std::string line;
    std::getline(version, line);
    EXPECT_EQ(LinesOf(memo), std::vector<std::string>{line});
}

TEST_F(Framework, FileThatCannotBeReadIsNamedWithTheReasonAndTheTextStays)
{
    const auto dir = std::filesystem::temp_directory_path() / "vost-test-files";
    std::filesystem::create_directories(dir);
    const auto fifo = dir / "fifo";
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct
    {
        std::string path;
        std::string reason;
    } cases[] = {{(dir / "missing.xyz").string(), "No such file or directory"},
                 {dir.string(), "Is a directory"},
                 {fifo.string(), "It is not a regular file."},
                 {"/dev/zero", "It is not a regular file."}};
    TMemo memo;
    LoadText(memo, "1 1 1\n");
    for (const auto& c : cases) {
        try {
            memo.Lines->LoadFromFile(c.path);
            ADD_FAILURE() << c.path << " was read";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Cannot open file \"" + c.path + "\". " + c.reason);
        }
        EXPECT_EQ(TextOf(memo), "1 1 1\n") << c.path;
    }
}

TEST(FilesDeathTest, FileTooLargeForTheMemoryLeftIsRefusedWholeAndTheTextStays)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator ends the process instead of failing";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto path = TempFile("large.xyz", "1 2 3\n");
    std::filesystem::resize_file(path, 4ull << 30); // sparse: costs no disk
    // In a child process, with 512 MB left to map, as an allocator fails for want of memory.
    const auto load = [&path] {
        TApplication application;
        Application->Initialize();
        TMemo memo;
        LoadText(memo, "1 1 1\n");
        rlim_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlimit limit{pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (512 << 20),
                           RLIM_INFINITY};
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            memo.Lines->LoadFromFile(path.string());
        } catch (const Exception& e) {
            std::fprintf(stderr, "%s %s", e.Message().c_str(), TextOf(memo).c_str());
        }
        std::_Exit(0);
    };
    EXPECT_EXIT(
        load(), ::testing::ExitedWithCode(0),
        "Cannot open file \".*large\\.xyz\"\\. There is not enough memory to load it\\. 1 1 1");
    std::filesystem::remove(path);
}

using S = QsciScintillaBase;

// The lines out of view: hidden, or, for the first, scrolled out.
std::vector<int> HiddenLines(const TMemo& memo)
{
    std::vector<int> hidden;
    if (memo.SendScintilla(S::SCI_GETFIRSTVISIBLELINE) > 0)
        hidden.push_back(0);
    for (int line = 1; line < memo.Lines->TextLineCount(); ++line)
        if (memo.SendScintilla(S::SCI_GETLINEVISIBLE, static_cast<unsigned long>(line)) == 0)
            hidden.push_back(line);
    return hidden;
}

std::string NoteUnder(const TMemo& memo, int line)
{
    const auto at = static_cast<unsigned long>(line);
    std::string note(static_cast<std::size_t>(memo.SendScintilla(
                         S::SCI_ANNOTATIONGETTEXT, at, static_cast<const char*>(nullptr))),
                     '\0');
    memo.SendScintilla(S::SCI_ANNOTATIONGETTEXT, at, note.data());
    return note;
}

std::string NoteFor(std::size_t bytes)
{
    return "A line of " + std::to_string(bytes) + " bytes is not shown: it is too long to lay out.";
}

long Position(const TMemo& memo, int line, bool end = false)
{
    return memo.SendScintilla(end ? S::SCI_GETLINEENDPOSITION : S::SCI_POSITIONFROMLINE,
                              static_cast<unsigned long>(line));
}

int CaretLine(const TMemo& memo)
{
    return static_cast<int>(
        memo.SendScintilla(S::SCI_LINEFROMPOSITION,
                           static_cast<unsigned long>(memo.SendScintilla(S::SCI_GETCURRENTPOS))));
}

bool Short(const TMemo& memo, int line)
{
    return Position(memo, line, true) - Position(memo, line) <= 65536;
}

const std::string kShown(65536, '7');
const std::string kHidden = kShown + "8";

TEST_F(Framework, LinesTooLongToLayOutAreHiddenWithANoteUnderTheLineBefore)
{
    std::string shortLines; // up to just short of a read piece, so the long line spans two
    while (shortLines.size() < (4u << 20) - 100)
        shortLines += "1 2 3\n";
    const int before = static_cast<int>(shortLines.size() / 6);
    const struct
    {
        std::string text;
        std::vector<int> hidden;
        int noted;
        std::string note;
    } rows[] = {
        {"1 2 3\n" + kShown + "\n4 5 6", {}, 0, ""},
        {"1 2 3\n" + kHidden + "\n" + kHidden + "8\n4 5 6",
         {1, 2},
         0,
         NoteFor(65537) + "\n" + NoteFor(65538)},
        {kHidden + "\n4 5 6", {0}, 1, NoteFor(65537)}, // never hidden, but scrolled out
        {"1\r" + kShown + kShown + "\r2\r" + kHidden, {1, 3}, 2, NoteFor(65537)},
        {shortLines + kHidden + "\n1 2 3", {before}, before - 1, NoteFor(65537)},
    };
    TMemo memo;
    for (const auto& r : rows) {
        LoadText(memo, r.text);
        EXPECT_EQ(HiddenLines(memo), r.hidden) << r.text.substr(0, 20);
        EXPECT_EQ(NoteUnder(memo, r.noted), r.note) << r.text.substr(0, 20);
        EXPECT_TRUE(Short(memo, CaretLine(memo))) << "the caret left in a long line";
    }

    // Edits hide and show lines.
    LoadText(memo, "1 2 3\n4 5 6\n7 8 9");
    memo.SendScintilla(S::SCI_INSERTTEXT, static_cast<unsigned long>(Position(memo, 1)),
                       std::string(65532, 'x').c_str());
    QCoreApplication::processEvents();
    EXPECT_EQ(HiddenLines(memo), std::vector<int>{1});
    EXPECT_EQ(NoteUnder(memo, 0), NoteFor(65537));
    memo.SendScintilla(S::SCI_DELETERANGE, static_cast<unsigned long>(Position(memo, 1)), 1L);
    QCoreApplication::processEvents();
    EXPECT_EQ(HiddenLines(memo), std::vector<int>{});
    EXPECT_EQ(NoteUnder(memo, 0), "");
}

TEST_F(Framework, KeysTakeAHiddenLineWholeAndAPasteHidesItsLongLinesFirst)
{
    TMemo memo;
    for (const auto& [key, line, selected] :
         {std::tuple{Qt::Key_Backspace, 2, kHidden + "\n"}, {Qt::Key_Delete, 0, "\n" + kHidden}}) {
        LoadText(memo, "1 2 3\n" + kHidden + "\n4 5 6");
        memo.SendScintilla(S::SCI_GOTOPOS,
                           static_cast<unsigned long>(Position(memo, line, key == Qt::Key_Delete)));
        QTest::keyClick(&memo, key);
        EXPECT_EQ(memo.selectedText().toStdString(), selected);
        QTest::keyClick(&memo, key);
        QCoreApplication::processEvents();
        EXPECT_EQ(TextOf(memo), "1 2 3\n4 5 6");
        EXPECT_EQ(NoteUnder(memo, 0), "");
    }
    memo.SendScintilla(S::SCI_GOTOPOS, static_cast<unsigned long>(Position(memo, 1)));
    QApplication::clipboard()->setText(QString::fromStdString("7 8 9\n" + kHidden));
    QTest::keyClick(&memo, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(TextOf(memo), "1 2 3\n7 8 9\n" + kHidden + "4 5 6");
    EXPECT_EQ(HiddenLines(memo), std::vector<int>{2});
    EXPECT_EQ(memo.SendScintilla(S::SCI_GETCURRENTPOS), Position(memo, 1));
    memo.SendScintilla(S::SCI_UNDO);
    EXPECT_EQ(TextOf(memo), "1 2 3\n4 5 6") << "the paste is one step to undo";
    memo.SendScintilla(S::SCI_GOTOPOS, static_cast<unsigned long>(Position(memo, 1)));
    QTest::keyClick(&memo, Qt::Key_Backspace);
    EXPECT_EQ(TextOf(memo), "1 2 34 5 6") << "elsewhere the keys are as ever";
}

void Press(QWidget& widget, const char* keys)
{
    const QKeyCombination key = QKeySequence(keys)[0];
    QTest::keyClick(&widget, key.key(), key.keyboardModifiers());
}

TEST_F(Framework, CaretAndPointerStayOutOfLongFirstAndLastLines)
{
    TMemo memo;
    memo.resize(400, 300);
    memo.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&memo));
    for (const std::string& text :
         {kHidden + "\n" + kHidden + "\n1 2 3\n4 5 6", "1 2 3\n4 5 6\n" + kHidden,
          "1 2 3\n" + kHidden + "\n" + kHidden, kHidden + "\n1 2 3\n" + kHidden,
          kHidden + "\n" + kHidden}) {
        LoadText(memo, text);
        // The keys start from both ends of each shown line; with none, from the start.
        std::vector<long> starts;
        for (int line = 0; line < memo.Lines->TextLineCount(); ++line)
            if (Short(memo, line))
                starts.insert(starts.end(), {Position(memo, line), Position(memo, line, true)});
        const bool noneShown = starts.empty();
        const auto kept = [&] {
            return noneShown ? memo.SendScintilla(S::SCI_GETCURRENTPOS) == 0
                             : Short(memo, CaretLine(memo));
        };
        for (const long start : noneShown ? std::vector<long>{0} : starts) {
            for (const char* key :
                 {"Up", "Down", "PgUp", "PgDown", "Left", "Right", "Ctrl+Left", "Ctrl+Right",
                  "Home", "End", "Ctrl+Home", "Ctrl+End", "Ctrl+Shift+Home", "Ctrl+Shift+End",
                  "Shift+Down", "Ctrl+[", "Ctrl+]"}) {
                memo.SendScintilla(S::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(start));
                Press(memo, key);
                EXPECT_TRUE(kept()) << text.size() << " bytes: " << key << " from " << start;
            }
        }
        QTest::mouseClick(memo.viewport(), Qt::LeftButton, {},
                          QPoint(20, memo.viewport()->height() - 5));
        EXPECT_TRUE(kept()) << text.size() << " bytes: a click below the text";
        for (const char* key : {"Right", "Down"}) {
            Press(memo, "Ctrl+A");
            EXPECT_EQ(memo.selectedText().size(), static_cast<qsizetype>(text.size()));
            Press(memo, key);
            EXPECT_TRUE(kept()) << text.size() << " bytes: all selected, then " << key;
        }
        EXPECT_EQ(TextOf(memo), text) << "a key changed the text";
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
    ReleaseDC(nullptr, nullptr);
}

} // namespace
