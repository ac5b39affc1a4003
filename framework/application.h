// The application object: start-up, the windows it owns, and the message
// loop with its idle hook.
#pragma once

#include "forms.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QApplication;

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

    // Constructs a window of class T owned by the application and stores it
    // in `ref`. The first window created is the main window.
    template <class T, class Ref> void CreateForm(Ref*& ref)
    {
        auto form = std::make_unique<T>();
        ref = form.get();
        Adopt(std::move(form));
    }

    // Shows the main window and dispatches messages until it is closed, then
    // destroys the windows, the last created first.
    void Run();

    // A box with the exception's message that waits for the user.
    void ShowException(const Exception& e);

    void SetOnIdle(TIdleEvent handler);

    // Calls the handler through the report point once the loop runs, after
    // the main window has shown.
    void Post(std::function<void()> handler);

    // Raises each window's OnDestroy and destroys it, the last created first.
    void DestroyForms();

private:
    void Adopt(std::unique_ptr<TForm> form);
    void CallIdle();
    void ScheduleIdle();
    void IdleAfterMessage();

    std::unique_ptr<QApplication> qapp_;
    std::vector<std::unique_ptr<TForm>> forms_;
    TIdleEvent onIdle_;
    bool idlePending_ = false;
    bool idledBeforeWait_ = false;
    QTimer afterMessage_;
};

extern TApplication* Application;
