// The control window as its description makes it, and loads through its
// menu that fail or that the user cancels.
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
    EXPECT_FALSE(View()->isVisible());
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
    control_Form->Open1->findChild<QAction*>()->trigger();
    return cancelled;
}

TEST(ControlWindow, FailedLoadShowsItsPathAndCancelledOneNoneAndBothLeaveTheText)
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
    const auto missing = kept.parent_path() / "no such file.xyz";
    Open(missing);
    EXPECT_EQ(ReportText(),
              "Cannot open file \"" + missing.string() + "\". No such file or directory");
    EXPECT_EQ(control_Form->Edit1->Text(), missing.string());
    EXPECT_EQ(TextOf(*control_Form->Memo1), "1 1 1\n");
    std::filesystem::remove(kept);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qInstallMessageHandler(RecordWarnings);
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);
    return RUN_ALL_TESTS();
}
