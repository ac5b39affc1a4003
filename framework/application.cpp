#include "application.h"

#include "report.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QSettings>

#include <csignal>

TApplication* Application = nullptr;

namespace {

// The entry reads the command line itself; Qt gets none of it.
int qtArgc = 1;
char qtArg0[] = "vost";
char* qtArgv[] = {qtArg0, nullptr};

} // namespace

TApplication::TApplication()
{
    Application = this;
    afterMessage_.setSingleShot(true);
    afterMessage_.setInterval(0);
    connect(&afterMessage_, &QTimer::timeout, this, &TApplication::CallIdle);
}

TApplication::~TApplication()
{
    onIdle_ = nullptr;
    afterMessage_.stop();
    CloseReport();
    forms_.clear();
    Application = nullptr;
}

void TApplication::Initialize()
{
    // A file grown past the limit the system sets fails its write, which a
    // save reports, rather than ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Qt's own dialogs everywhere: a desktop's keeps state of its own, and
    // asking for Qt's once made already calls the desktop's toolkit up.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    if (!QApplication::instance())
        qapp_ = std::make_unique<QApplication>(qtArgc, qtArgv);
    // The program keeps no state between runs, but Qt's file dialog keeps the
    // folders it saw in the user's settings, and starts in the last one. Its
    // settings go where nothing can be kept, nor read back, and none of the
    // system's are read either.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, QStringLiteral("/dev/null"));
    // After a wait for messages, the next empty queue calls the idle handler again.
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &TApplication::IdleAfterMessage);
    }
}

void TApplication::Adopt(std::unique_ptr<TForm> form)
{
    TForm* const created = form.get();
    if (forms_.empty()) {
        created->MakeMain();
        SetReportOwner(created);
    }
    forms_.push_back(std::move(form));
    created->Loaded();
}

void TApplication::Run()
{
    if (forms_.empty())
        return;
    TForm* const main = forms_.front().get();
    QObject::connect(main, &TForm::Closed, qApp, &QCoreApplication::quit);
    main->Show();
    QApplication::exec();
    DestroyForms();
}

void TApplication::DestroyForms()
{
    onIdle_ = nullptr;
    CloseReport();
    while (!forms_.empty()) {
        forms_.back()->BeforeDestruction();
        forms_.pop_back();
    }
}

void TApplication::SetOnIdle(TIdleEvent handler)
{
    onIdle_ = std::move(handler);
    ScheduleIdle();
}

void TApplication::Post(std::function<void()> handler)
{
    QMetaObject::invokeMethod(
        this, [handler = std::move(handler)] { Guard(handler); }, Qt::QueuedConnection);
}

void TApplication::ScheduleIdle()
{
    // Called again straight away: a queued call runs once the messages already
    // waiting are handled. A zero timer would too, but Qt's GLib loop runs
    // those at idle priority, where a steady flow of window-system events can
    // starve them.
    if (!onIdle_ || idlePending_)
        return;
    idlePending_ = true;
    QMetaObject::invokeMethod(this, &TApplication::CallIdle, Qt::QueuedConnection);
}

void TApplication::IdleAfterMessage()
{
    // The queue is empty and the loop is about to wait. Unless the idle
    // handler has just run and asked for nothing more, it runs first; the
    // zero timer keeps the loop from waiting until it has.
    if (idledBeforeWait_) {
        idledBeforeWait_ = false;
        return;
    }
    if (!onIdle_ || idlePending_)
        return;
    idlePending_ = true;
    afterMessage_.start();
}

void TApplication::CallIdle()
{
    idlePending_ = false;
    afterMessage_.stop();
    if (!onIdle_)
        return;
    bool done = true;
    Guard([&] { onIdle_(this, done); }, true);
    idledBeforeWait_ = done;
    if (!done)
        ScheduleIdle();
}

void TApplication::ShowException(const Exception& e)
{
    ShowFailure(e);
}
