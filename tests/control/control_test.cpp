// The control window at start-up, opens through its menu that the user
// cancels or that fail, and saves: byte for byte, whole or not at all, and
// asked for before changes would be lost.
#include "program.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QPointer>
#include <QProgressDialog>

#include <fstream>
#include <optional>
#include <sstream>

#include <sys/mount.h>
#include <sys/resource.h>
#include <xcb/xcb.h>

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

QProgressDialog* ProgressShown()
{
    auto* progress = control_Form->Memo1->findChild<QProgressDialog*>();
    return progress && progress->isVisible() ? progress : nullptr;
}

// File > Open, the dialog answered with `file`, or cancelled with none; a
// load's progress, once it shows, is cancelled unless asked not to.
void Open(const std::optional<std::filesystem::path>& file, bool cancel = true)
{
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            if (!file)
                return dialog->reject();
            dialog->selectFile(QString::fromStdString(file->string()));
            QMetaObject::invokeMethod(dialog, "accept");
        }
        if (auto* progress = ProgressShown(); progress && cancel)
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

std::string Bytes(const std::filesystem::path& file)
{
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    return bytes.str();
}

void Trigger(TMenuItem* item)
{
    item->findChild<QAction*>()->trigger();
}

TEST(ControlWindow, SaveWritesTheTextByteForByteInTheFilesPlace)
{
    TMemo& memo = *control_Form->Memo1;
    const std::string texts[] = {"1 2 3\r\n4 5 6\r\n",        "1 2 3\r4 5 6\r", "1 2 3\n4 5 6",
                                 std::string("1\0 2 3\n", 8), "\xff\xfe 2 3\n", ""};
    for (const std::string& text : texts) {
        const auto file = TempFile("saved.xyz", text);
        control_Form->OpenFile(file);
        memo.SetSelStart(0);
        // Opened, then saved, it is the same file; edited, it is the new text.
        Trigger(control_Form->Save1);
        EXPECT_EQ(Bytes(file), text);
        memo.SetSelStart(memo.Lines->Store().Length());
        memo.SetSelText("\n7 8 9");
        ASSERT_TRUE(memo.Modified());
        Trigger(control_Form->Save1);
        EXPECT_EQ(Bytes(file), text + "\n7 8 9");
        EXPECT_FALSE(memo.Modified());
        std::filesystem::remove(file);
    }
    // Through a symbolic link, the file it names is replaced, with its permissions.
    const auto file = TempFile("target.xyz", "1 2 3\n");
    const auto link = file.parent_path() / ("link-" + file.filename().string());
    std::filesystem::create_symlink(file, link);
    std::filesystem::permissions(file, std::filesystem::perms(0640));
    control_Form->OpenFile(link);
    memo.SetSelStart(0);
    memo.SetSelText("0 ");
    Trigger(control_Form->Save1);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Bytes(file), "0 1 2 3\n");
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0640));
    std::filesystem::remove(link);
    std::filesystem::remove(file);
}

TEST(ControlWindow, SaveThatFailsLeavesTheFileAndTheTextAsTheyWereAndSaysWhy)
{
    TMemo& memo = *control_Form->Memo1;
    const auto folder =
        std::filesystem::temp_directory_path() / ("vost-save-" + std::to_string(getpid()));
    const auto file = folder / "cloud.xyz";
    const auto root = geteuid() == 0;
    const struct
    {
        std::string why;
        std::function<bool()> fail; // after the file is opened and edited
        std::function<void()> mend;
        std::string reason;
    } rows[] = {
        // Root writes into any folder on a file system that is not read-only.
        {"a read-only folder",
         [&] {
             return root ? mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY,
                                 nullptr) == 0
                         : chmod(folder.c_str(), 0555) == 0;
         },
         [&] { root ? umount(folder.c_str()) : chmod(folder.c_str(), 0755); },
         root ? "Read-only file system" : "Permission denied"},
        {"a file system that holds no more of it",
         [] {
             const rlimit small{4096, RLIM_INFINITY};
             return setrlimit(RLIMIT_FSIZE, &small) == 0;
         },
         [] {
             const rlimit any{RLIM_INFINITY, RLIM_INFINITY};
             setrlimit(RLIMIT_FSIZE, &any);
         },
         "File too large"},
        {"its folder gone", [&] { return std::filesystem::remove_all(folder) > 0; }, [] {},
         "No such file or directory"},
    };
    for (const auto& r : rows) {
        std::filesystem::create_directories(folder);
        if (root && r.why == "a read-only folder") {
            ASSERT_EQ(mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m"), 0) << "no tmpfs here";
        }
        std::ofstream(file) << "1 2 3\n";
        control_Form->OpenFile(file);
        memo.SetSelStart(0);
        const std::string text(8192, '\n');
        memo.SetSelText(text);
        ASSERT_TRUE(r.fail()) << r.why;
        Trigger(control_Form->Save1);
        const std::string kept = std::filesystem::exists(file) ? Bytes(file) : "gone";
        r.mend();
        EXPECT_EQ(ReportText(), "Cannot save file \"" + file.string() + "\". " + r.reason) << r.why;
        EXPECT_EQ(kept, r.why == "its folder gone" ? "gone" : "1 2 3\n") << r.why;
        EXPECT_EQ(TextOf(memo), text + "1 2 3\n") << r.why;
        EXPECT_TRUE(memo.Modified()) << r.why;
        CloseReport();
    }
    std::filesystem::remove_all(folder);
}

// The answer given when asked about changes not saved: a button, or none
// for the Escape key.
void Answer(const std::function<void()>& ask, QMessageBox::StandardButton button,
            int* asked = nullptr)
{
    QTimer answer;
    QPointer<QMessageBox> answered;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box != answered && box->text().startsWith("The text has changed")) {
            answered = box;
            if (asked)
                ++*asked;
            if (button == QMessageBox::Cancel)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(button)->click();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialog->reject();
        }
    });
    answer.start(1);
    ask();
}

TEST(ControlWindow, ChangesNotSavedAreAskedAboutBeforeOpenOrCloseTakesThemAway)
{
    TMemo& memo = *control_Form->Memo1;
    const auto file = TempFile("asked.xyz", "1 2 3\n");
    const struct
    {
        QMessageBox::StandardButton answer;
        bool close; // else File > Open
        bool goesOn;
        std::string saved;
    } rows[] = {
        {QMessageBox::Save, false, true, "9 1 2 3\n"},
        {QMessageBox::Discard, false, true, "1 2 3\n"},
        {QMessageBox::Cancel, false, false, "1 2 3\n"},
        {QMessageBox::Save, true, true, "9 1 2 3\n"},
        {QMessageBox::Discard, true, true, "1 2 3\n"},
        {QMessageBox::Cancel, true, false, "1 2 3\n"},
    };
    for (const auto& r : rows) {
        std::ofstream(file) << "1 2 3\n";
        control_Form->OpenFile(file);
        memo.SetSelStart(0);
        memo.SetSelText("9 ");
        int asked = 0;
        bool closed = false;
        Answer(
            [&] { r.close ? void(closed = control_Form->close()) : Trigger(control_Form->Open1); },
            r.answer, &asked);
        EXPECT_EQ(asked, 1) << r.answer << " " << r.close;
        EXPECT_EQ(Bytes(file), r.saved) << r.answer << " " << r.close;
        EXPECT_EQ(closed, r.close && r.goesOn) << r.answer;
        control_Form->Show();
    }
    // Not asked for a text only opened, just saved, or undone back to what was saved.
    const std::function<void()> sequences[] = {
        [] {}, [&] { memo.SetSelText("8 "), Trigger(control_Form->Save1); },
        [&] { memo.SetSelText("8 "), memo.Undo(); }};
    for (const auto& done : sequences) {
        control_Form->OpenFile(file);
        done();
        int asked = 0;
        Answer([] { Trigger(control_Form->Open1); }, QMessageBox::Cancel, &asked);
        EXPECT_EQ(asked, 0);
    }
    std::filesystem::remove(file);
}

} // namespace

// A window manager's close button, as the X server brings its message.
void CloseAsWindowManager(const QWidget& window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_TRUE(x11) << "not on X";
    xcb_connection_t* connection = x11->connection();
    const auto atom = [connection](std::string_view name) {
        const auto cookie =
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
        return reply ? reply->atom : xcb_atom_t{XCB_NONE};
    };
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window.winId());
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, message.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

// A disk whose load goes on until the control window is closed, as the user
// does once the load's progress shows.
struct EndlessDisk : LoadTap
{
    void Start(std::uint64_t) override {}
    void Take(std::string_view, std::uint32_t*) override
    {
        ASSERT_TRUE(WaitFor([] { return ProgressShown() != nullptr; })) << "no progress shown";
        // A key meanwhile reaches the progress alone.
        control_Form->Memo1->setFocus();
        QTest::keyClick(control_Form->windowHandle(), Qt::Key_X);
        QCoreApplication::processEvents();
        if (!TextOf(*control_Form->Memo1).empty()) {
            ADD_FAILURE() << "a key reached the text box";
            return ProgressShown()->cancel();
        }
        CloseAsWindowManager(*control_Form);
        if (!WaitFor([] { return !control_Form->isVisible(); })) {
            ADD_FAILURE() << "the close was lost";
            ProgressShown()->cancel();
        }
    }
    // Closed, it has taken all: a load that went on would put the file's text in.
    std::uint64_t Done() const override { return control_Form->isVisible() ? 0 : UINT64_MAX; }
    std::any Finish(bool) override { return {}; }
};

// control_test.close_during_load runs this alone, as the program ends with it.
TEST(ControlWindowClose, DuringALoadEndsTheLoadAndChangesNothing)
{
    EndlessDisk disk;
    control_Form->Memo1->Lines->SetLoadTap(&disk);
    const auto file = TempFile("endless.xyz", "2 2 2\n");
    Open(file, false);
    control_Form->Memo1->Lines->SetLoadTap(nullptr);
    std::filesystem::remove(file);
    EXPECT_FALSE(control_Form->isVisible());
    EXPECT_EQ(TextOf(*control_Form->Memo1), "");
    EXPECT_EQ(control_Form->Edit1->Text(), "");
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment(AnswerStartupBoxes));
    return RUN_ALL_TESTS();
}
