// The application object: start-up, the message loop with its idle hook,
// and the one place where failures of handlers are reported.
#pragma once

#include "sysutils.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QApplication;

class TForm;

using TObject = QObject;
// Called whenever the message queue is empty; leaving Done true waits for the
// next message, setting it false asks to be called again straight away.
using TIdleEvent = std::function<void(TObject* Sender, bool& Done)>;

class TApplication : public QObject
{
    Q_OBJECT

public:
    // There is one at a time; constructing it sets `Application`.
    TApplication();
    ~TApplication() override;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    void Initialize();

    // Constructs a window owned by the application and stores it in `ref`.
    // The first window created is the main window.
    template <class T> void CreateForm(T*& ref)
    {
        auto form = std::make_unique<T>();
        ref = form.get();
        Adopt(std::move(form));
    }

    // Shows the main window and dispatches messages until it is closed, then
    // destroys the windows, the last created first.
    void Run();

    // A box with the exception's message that waits for the user; the entry's
    // guard uses it, when no loop is left to keep a box up.
    void ShowException(const Exception& e);

    // Every handler runs through here: a failure that leaves it is reported
    // and the loop goes on, since no exception may cross Qt's event loop.
    // A recurring handler (idle, paint) runs again by itself, so the same
    // failure keeps coming back; it is reported once per state of the text.
    template <class F> void Guard(F&& handler, bool recurring = false) noexcept
    {
        try {
            handler();
        } catch (...) {
            HandleException(std::current_exception(), recurring);
        }
    }

    // The text boxes say when their text changes, so that a failure the idle
    // handler keeps raising is reported once per state of the text, when the
    // typing has paused.
    void NoteEdit();

    TForm* MainForm() const { return mainForm_; }

    void SetOnIdle(TIdleEvent handler);

    // Raises each window's OnDestroy and destroys it, the last created first.
    void DestroyForms();

    // The report box currently shown, if any (tests and the tour look at it).
    QMessageBox* ReportBox() const { return report_; }

    static constexpr std::chrono::milliseconds kStillBeforeReport{1000};

private:
    void Adopt(std::unique_ptr<TForm> form);
    void HandleException(std::exception_ptr error, bool recurring) noexcept;
    void Report(const std::string& message, bool activate);
    // The text for a box, an overlong one shortened in the middle.
    static QString BoxText(const std::string& text);
    void CallIdle();
    void ScheduleIdle();
    void IdleAfterMessage();

    std::unique_ptr<QApplication> qapp_;
    std::vector<std::unique_ptr<TForm>> forms_;
    TForm* mainForm_ = nullptr;
    TIdleEvent onIdle_;
    bool idlePending_ = false;
    bool idledBeforeWait_ = false;
    QTimer afterMessage_;
    QPointer<QMessageBox> report_;
    unsigned long long editGeneration_ = 0;
    unsigned long long reportedGeneration_ = ~0ull;
    std::chrono::steady_clock::time_point lastEdit_{};
};

extern TApplication* Application;

// A modal message box showing the text.
void ShowMessage(const AnsiString& text);
