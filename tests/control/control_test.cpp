// The control window at start-up, and opens through its menu that the user
// cancels or that fail.
#include "program.h"

#include <QFileDialog>
#include <QProgressDialog>

#include <optional>

namespace {

// The boxes start-up shows, answered as they come.
std::vector<std::string> startupBoxes;

void AnswerStartupBoxes()
{
    auto* answer = new QTimer(qApp);
    QObject::connect(answer, &QTimer::timeout, [answer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            startupBoxes.push_back(box->text().toStdString());
            box->accept();
        } else if (control_Form && control_Form->isVisible()) {
            delete answer;
        }
    });
    answer->start(1);
}

// control_test.without_opengl runs this where the system has no OpenGL.
TEST(ControlWindow, StartsWithTheViewHiddenOrTellsOfNoOpenGL)
{
    const char* integration = std::getenv("QT_XCB_GL_INTEGRATION");
    EXPECT_EQ(startupBoxes, integration && std::string_view(integration) == "none"
                                ? std::vector<std::string>{":-)~ hrc == NULL"}
                                : std::vector<std::string>{});
    EXPECT_FALSE(View()->isVisible());
}

// A disk that gives a load's pieces only once its progress shows (and the
// user has cancelled it).
struct SlowDisk : LoadTap
{
    void Start(std::uint64_t) override {}
    void Take(std::string_view, std::uint32_t*) override
    {
        EXPECT_TRUE(WaitFor([] {
            const auto* progress = control_Form->Memo1->findChild<QProgressDialog*>();
            return progress && progress->wasCanceled();
        })) << "no progress shown";
    }
    std::uint64_t Done() const override { return 0; }
    std::any Finish(bool) override { return {}; }
};

// File > Open, the dialog answered with `file`, or cancelled with none; a
// load's progress, once it shows, is cancelled.
void Open(const std::optional<std::filesystem::path>& file)
{
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            if (!file)
                return dialog->reject();
            dialog->selectFile(QString::fromStdString(file->string()));
            QMetaObject::invokeMethod(dialog, "accept");
        }
        if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
            progress->cancel();
    });
    answer.start(1);
    control_Form->Open1->findChild<QAction*>()->trigger();
}

TEST(ControlWindow, CancelledDialogOrLoadChangesNothingAndFailedOneShowsOnlyItsPath)
{
    const auto kept = TempFile("kept.xyz", "1 1 1\n");
    Open(kept);
    ASSERT_EQ(TextOf(*control_Form->Memo1), "1 1 1\n");
    Open(std::nullopt);
    EXPECT_EQ(control_Form->Edit1->Text(), kept.string());
    EXPECT_EQ(TextOf(*control_Form->Memo1), "1 1 1\n");
    // A slow load, cancelled once its progress shows, changes nothing either.
    SlowDisk disk;
    control_Form->Memo1->Lines->SetLoadTap(&disk);
    const auto slow = TempFile("slow.xyz", "2 2 2\n");
    Open(slow);
    control_Form->Memo1->Lines->SetLoadTap(nullptr);
    std::filesystem::remove(slow);
    EXPECT_EQ(control_Form->Edit1->Text(), kept.string());
    EXPECT_EQ(TextOf(*control_Form->Memo1), "1 1 1\n");
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
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment(AnswerStartupBoxes));
    return RUN_ALL_TESTS();
}
