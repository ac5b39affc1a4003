// The control window as its description makes it, and a long load the user
// cancels.
#include "program.h"

#include <QFileDialog>
#include <QProgressDialog>

namespace {

std::vector<std::string> startupWarnings;

void RecordWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // The test machine's own environment is not the program's concern.
    if (type != QtDebugMsg && type != QtInfoMsg && !message.contains("XDG_RUNTIME_DIR"))
        startupWarnings.push_back(message.toStdString());
}

TEST(ControlWindow, StartsAsDescribedWithTheViewHiddenAndNoWarnings)
{
    for (const std::string& warning : startupWarnings)
        ADD_FAILURE() << "warning at start-up: " << warning;
    EXPECT_TRUE(control_Form->isVisible());
    EXPECT_FALSE(View()->isVisible());
    EXPECT_EQ(QOpenGLContext::currentContext(), View()->GLRC);
    EXPECT_EQ(control_Form->windowTitle(), "control");
    EXPECT_EQ(View()->windowTitle(), "view");
    const std::pair<QWidget*, QRect> geometries[] = {
        {control_Form, {139, 134, 628, 312}},         {View(), {115, 160, 544, 375}},
        {control_Form->GroupBox1, {8, 32, 601, 209}}, {control_Form->Edit1, {8, 16, 585, 24}},
        {control_Form->Memo1, {8, 48, 585, 113}},     {control_Form->Button1, {8, 168, 585, 25}}};
    for (const auto& [widget, geometry] : geometries)
        EXPECT_EQ(widget->geometry(), geometry) << widget->objectName().toStdString();
    EXPECT_EQ(control_Form->GroupBox1->title(), "Open cloud points file");
    EXPECT_EQ(control_Form->Button1->text(), "View cloud points  ");
    EXPECT_EQ(control_Form->File1->title(), "File");
    EXPECT_EQ(control_Form->Open1->Caption(), "Open");
    EXPECT_EQ(control_Form->Edit1->font().pointSize(), 10);
    EXPECT_EQ(control_Form->font().pointSize(), 8);
    std::vector<QWidget*> tabOrder{control_Form->Edit1};
    for (QWidget* next = tabOrder.back()->nextInFocusChain(); next != control_Form->Edit1;
         next = next->nextInFocusChain())
        if (next->focusPolicy() & Qt::TabFocus && next->isVisibleTo(control_Form))
            tabOrder.push_back(next);
    EXPECT_EQ(tabOrder, (std::vector<QWidget*>{control_Form->Edit1, control_Form->Memo1,
                                               control_Form->Button1}));
    EXPECT_TRUE(TextOf(*control_Form->Memo1).empty());
    EXPECT_TRUE(control_Form->Edit1->Text().empty());
}

// File > Open, the dialog answered with `file`; true when the load showed
// its progress, which is then cancelled.
bool Open(const std::filesystem::path& file)
{
    bool cancelled = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialog->selectFile(QString::fromStdString(file.string()));
            QMetaObject::invokeMethod(dialog, "accept");
        }
        if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget())) {
            progress->cancel();
            cancelled = true;
        }
    });
    answer.start(1);
    emit control_Form->Open1->OnClick(control_Form->Open1);
    return cancelled;
}

TEST(ControlWindow, CancellingALongLoadLeavesTextAndPathAsTheyWere)
{
    const auto kept = TempFile("kept.xyz", "1 1 1\n");
    Open(kept);
    ASSERT_EQ(TextOf(*control_Form->Memo1), "1 1 1\n");
    // A gigabyte takes seconds to load; its progress shows after half of one.
    const auto path = TempFile("big.xyz", "");
    std::filesystem::resize_file(path, 1ull << 30); // sparse: costs no disk
    EXPECT_TRUE(Open(path)) << "no progress for a long load";
    std::filesystem::remove(path);
    EXPECT_EQ(TextOf(*control_Form->Memo1), "1 1 1\n");
    EXPECT_EQ(control_Form->Edit1->Text(), kept.string());
}

// The messages that waited for an answer, answered as a person would.
std::vector<std::string> answered;

void AnswerMessages()
{
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        answered.push_back(box->text().toStdString());
        box->accept();
    }
}

// Run by ctest a second time with QT_XCB_GL_INTEGRATION=none: no context can be made.
TEST(WithoutOpenGL, TheViewSaysSoAtStartAndTheWindowsWorkToTheEnd)
{
    EXPECT_EQ(answered, std::vector<std::string>{":-)~ hrc == NULL"});
    EXPECT_EQ(View()->GLRC, nullptr);
    LoadText(*control_Form->Memo1, "1 2 3\n4 5 6\n");
    for (int i = 0; i < 10; ++i) {
        control_Form->Button1->click();
        ASSERT_TRUE(WaitFor([] { return View()->GLClient()->isExposed(); }));
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Left, Qt::Key_Down, Qt::Key_Right})
            QTest::keyClick(View()->GLClient(), key);
        View()->resize(200 + i * 10, 300 - i * 10);
        View()->close();
        ASSERT_TRUE(WaitFor([] { return !View()->GLClient()->isExposed(); }));
    }
    LoadText(*control_Form->Memo1, "1 2\n");
    EXPECT_TRUE(WaitFor([] { return ReportText() == "Line 1: List index out of bounds (2)"; }));
    EXPECT_EQ(answered.size(), 1u) << "another message waited for an answer";
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qInstallMessageHandler(RecordWarnings);
    // Made before the windows (the application object takes it), so that a
    // message while they are made is answered.
    QApplication application(argc, argv);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &AnswerMessages);
    answer.start(20);
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);
    return RUN_ALL_TESTS();
}
