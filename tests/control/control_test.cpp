// The control window as the user meets it: its description, File > Open
// through the real dialog, and the view button.
#include "program.h"

#include <QApplication>
#include <QFileDialog>
#include <QProgressDialog>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

std::vector<std::string> startupWarnings;

void RecordWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // The test machine's own environment is not the program's concern.
    if (type != QtDebugMsg && type != QtInfoMsg && !message.contains("XDG_RUNTIME_DIR"))
        startupWarnings.push_back(message.toStdString());
}

class WarningWatch : public ::testing::Environment
{
public:
    void SetUp() override { previous_ = qInstallMessageHandler(RecordWarnings); }
    void TearDown() override { qInstallMessageHandler(previous_); }

private:
    QtMessageHandler previous_ = nullptr;
};

std::filesystem::path TempFile(const std::string& name, std::string_view bytes)
{
    const auto path = std::filesystem::temp_directory_path() / ("vost-control-" + name);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Runs File > Open; `answer` deals with the dialog once it is up.
void OpenThroughDialog(const std::function<void(QFileDialog&)>& answer)
{
    bool answered = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(WaitFor([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); }));
        QFileDialog* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        answer(*dialog);
        answered = true;
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the dialog did not take the answer";
            dialog->reject();
        }
    });
    control_Form->Open1->trigger();
    EXPECT_TRUE(answered);
}

void ChooseFile(const std::string& path)
{
    OpenThroughDialog([&](QFileDialog& dialog) {
        dialog.selectFile(QString::fromStdString(path));
        QMetaObject::invokeMethod(&dialog, "accept");
    });
}

std::vector<std::string> Lines()
{
    std::vector<std::string> lines;
    const TStrings& strings = *control_Form->Memo1->Lines;
    for (int i = 0; i < strings.Count(); ++i)
        lines.push_back(strings[i]);
    return lines;
}

QString ReportText()
{
    QMessageBox* box = Application->ReportBox();
    return box && box->isVisible() ? box->text() : QString();
}

TEST(ControlWindow, StartsAsMainWindowWithTheViewHiddenAndNoWarnings)
{
    EXPECT_EQ(Application->MainForm(), control_Form);
    EXPECT_TRUE(control_Form->isVisible());
    EXPECT_FALSE(view_Form->isVisible());
    ASSERT_NE(view_Form->GLRC, nullptr);
    EXPECT_EQ(QOpenGLContext::currentContext(), view_Form->GLRC);
    for (const std::string& warning : startupWarnings)
        ADD_FAILURE() << "warning at start-up: " << warning;
}

TEST(ControlWindow, DescriptionsShowOnTheLiveWindows)
{
    EXPECT_EQ(control_Form->windowTitle(), "control");
    EXPECT_EQ(control_Form->geometry(), QRect(139, 134, 628, 312));
    EXPECT_EQ(view_Form->windowTitle(), "view");
    EXPECT_EQ(view_Form->geometry(), QRect(115, 160, 544, 375));

    struct Component
    {
        QWidget* widget;
        QRect geometry;
    };
    const Component components[] = {{control_Form->GroupBox1, {8, 32, 601, 209}},
                                    {control_Form->Edit1, {8, 16, 585, 24}},
                                    {control_Form->Memo1, {8, 48, 585, 113}},
                                    {control_Form->Button1, {8, 168, 585, 25}}};
    for (const Component& c : components)
        EXPECT_EQ(c.widget->geometry(), c.geometry) << c.widget->objectName().toStdString();
    EXPECT_EQ(control_Form->GroupBox1->title(), "Open cloud points file");
    EXPECT_EQ(control_Form->Button1->text(), "View cloud points  ");
    EXPECT_EQ(control_Form->File1->title(), "File");
    EXPECT_EQ(control_Form->Open1->text(), "Open");
    EXPECT_EQ(control_Form->Open1->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(control_Form->Edit1->font().pointSize(), 10);
    EXPECT_EQ(control_Form->font().pointSize(), 8);
    EXPECT_EQ(control_Form->Edit1->nextInFocusChain(), control_Form->Memo1);
    EXPECT_TRUE(control_Form->Memo1->Lines->Text().empty());
    EXPECT_TRUE(control_Form->Edit1->Text().empty());
}

TEST(ControlWindow, OpenLoadsLinesByteForByteWhateverTheLineBreaks)
{
    struct Case
    {
        const char* name;
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"lf", "1 2 3\n4 5 6\n", {"1 2 3", "4 5 6"}},
        {"crlf", "1 2 3\r\n4 5 6\r\n", {"1 2 3", "4 5 6"}},
        {"cr", "1 2 3\r4 5 6\r", {"1 2 3", "4 5 6"}},
        {"mixed", "1\r\n2\r3\n4", {"1", "2", "3", "4"}},
        {"no-final-break", "1 2 3", {"1 2 3"}},
        {"blank-inside", "1 2 3\n\n4 5 6\n", {"1 2 3", "", "4 5 6"}},
        {"two-final-breaks", "1 2 3\n\n", {"1 2 3", ""}},
        {"empty", "", {}},
        {"bytes", std::string("\xff\xfe 1\0002\n\xc3\xa9", 9), {std::string("\xff\xfe 1\0002", 6), "\xc3\xa9"}},
    };
    for (const Case& c : cases) {
        const auto path = TempFile(c.name, c.bytes);
        ChooseFile(path.string());
        EXPECT_EQ(control_Form->Edit1->Text(), path.string()) << c.name;
        EXPECT_EQ(Lines(), c.lines) << c.name;
        EXPECT_EQ(control_Form->Memo1->Lines->Text(), c.bytes) << c.name;
    }
}

TEST(ControlWindow, CancelChangesNothing)
{
    const auto path = TempFile("kept", "7 8 9\n");
    ChooseFile(path.string());
    OpenThroughDialog([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(control_Form->Edit1->Text(), path.string());
    EXPECT_EQ(Lines(), std::vector<std::string>{"7 8 9"});
}

TEST(ControlWindow, UnreadableFileIsReportedAndTheTextStays)
{
    const auto kept = TempFile("before-error", "1 1 1\n");
    struct Case
    {
        std::string path;
        std::string reason;
    };
    const Case cases[] = {
        {(std::filesystem::temp_directory_path() / "vost-no-such-file.xyz").string(), "No such file or directory"},
        {"/dev/zero", "It is not a regular file."},
    };
    for (const Case& c : cases) {
        ChooseFile(kept.string());
        if (QMessageBox* box = Application->ReportBox())
            box->close();
        ChooseFile(c.path);
        EXPECT_EQ(control_Form->Edit1->Text(), c.path);
        EXPECT_EQ(Lines(), std::vector<std::string>{"1 1 1"}) << c.path;
        EXPECT_EQ(ReportText().toStdString(), "Cannot open file \"" + c.path + "\". " + c.reason);
    }
    Application->ReportBox()->close();
}

TEST(ControlWindow, LongLoadShowsProgressAndCancelLeavesAllAsItWas)
{
    const auto kept = TempFile("before-cancel", "1 1 1\n");
    ChooseFile(kept.string());
    // Large enough to come in several pieces; the progress shows at once.
    std::string big;
    for (int i = 0; i < 1'000'000; ++i)
        big += "12.5 -3.25 7.125\n";
    const auto path = TempFile("big", big);
    big = {};
    const int usual = TStrings::ProgressAfterMs;
    TStrings::ProgressAfterMs = 0;

    bool shown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<QProgressDialog*>(widget);
            if (progress && progress->isVisible()) {
                shown = true;
                progress->cancel();
            }
        }
    });
    watch.start(20);
    ChooseFile(path.string());
    watch.stop();
    TStrings::ProgressAfterMs = usual;
    std::filesystem::remove(path);
    EXPECT_TRUE(shown) << "no progress for a long load";
    EXPECT_EQ(Lines(), std::vector<std::string>{"1 1 1"});
    EXPECT_EQ(control_Form->Edit1->Text(), kept.string());
}

TEST(ControlWindow, TypedFinalBreakBeginsNoLine)
{
    control_Form->Memo1->Lines->SetText("");
    control_Form->Memo1->setFocus();
    QTest::keyClicks(control_Form->Memo1, "1 2 3");
    QTest::keyClick(control_Form->Memo1, Qt::Key_Return);
    EXPECT_EQ(Lines(), std::vector<std::string>{"1 2 3"});
    QTest::keyClicks(control_Form->Memo1, "4 5");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"1 2 3", "4 5"}));
    control_Form->Memo1->Lines->SetText("");
}

TEST(ControlWindow, ViewButtonShowsTheViewAndClosingOnlyHidesIt)
{
    QTest::mouseClick(control_Form->Button1, Qt::LeftButton);
    EXPECT_TRUE(view_Form->isVisible());
    const HGLRC context = view_Form->GLRC;
    QTest::mouseClick(control_Form->Button1, Qt::LeftButton);
    EXPECT_TRUE(view_Form->isVisible());
    view_Form->close();
    EXPECT_FALSE(view_Form->isVisible());
    EXPECT_TRUE(control_Form->isVisible());
    QTest::mouseClick(control_Form->Button1, Qt::LeftButton);
    EXPECT_TRUE(view_Form->isVisible());
    EXPECT_EQ(view_Form->GLRC, context);
    view_Form->close();
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WarningWatch);
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);
    return RUN_ALL_TESTS();
}
