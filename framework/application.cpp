#include "application.h"

#include "forms.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMessageBox>

TApplication* Application = nullptr;

namespace {

// The entry takes no notice of the command line, so Qt gets none either.
int qtArgc = 1;
char qtArg0[] = "vost";
char* qtArgv[] = {qtArg0, nullptr};

std::string MessageOf(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

// A message of any length fits a box: the middle of an overlong one (say,
// the field of a 100 MB line) gives way to an ellipsis, keeping its start
// and its end, where the line number and the reason are. A box laying out
// megabytes of text would hold the program for minutes.
std::string Shortened(const std::string& message)
{
    constexpr std::size_t kHead = 300;
    constexpr std::size_t kTail = 200;
    if (message.size() <= kHead + kTail)
        return message;
    // Not inside a UTF-8 sequence.
    const auto continuation = [&](std::size_t at) {
        return (static_cast<unsigned char>(message[at]) & 0xC0) == 0x80;
    };
    std::size_t head = kHead;
    while (head > 0 && continuation(head))
        --head;
    std::size_t tail = message.size() - kTail;
    while (tail < message.size() && continuation(tail))
        ++tail;
    return message.substr(0, head) + "..." + message.substr(tail);
}

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
    delete report_.data();
    forms_.clear();
    Application = nullptr;
}

void TApplication::Initialize()
{
    if (!QApplication::instance())
        qapp_ = std::make_unique<QApplication>(qtArgc, qtArgv);
    // After a wait for messages, the next empty queue calls the idle handler again.
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &TApplication::IdleAfterMessage);
    }
}

void TApplication::Adopt(std::unique_ptr<TForm> form)
{
    TForm* const created = form.get();
    forms_.push_back(std::move(form));
    if (!mainForm_)
        mainForm_ = created;
    created->Loaded();
}

void TApplication::Run()
{
    if (!mainForm_)
        return;
    QObject::connect(mainForm_, &TForm::Closed, qApp, &QCoreApplication::quit);
    mainForm_->Show();
    QApplication::exec();
    DestroyForms();
}

void TApplication::DestroyForms()
{
    onIdle_ = nullptr;
    delete report_.data();
    while (!forms_.empty()) {
        forms_.back()->BeforeDestruction();
        forms_.pop_back();
    }
    mainForm_ = nullptr;
}

void TApplication::SetOnIdle(TIdleEvent handler)
{
    onIdle_ = std::move(handler);
    ScheduleIdle();
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

void TApplication::NoteEdit()
{
    ++editGeneration_;
    lastEdit_ = std::chrono::steady_clock::now();
}

void TApplication::HandleException(std::exception_ptr error, bool recurring) noexcept
{
    try {
        const std::string message = MessageOf(error);
        if (!recurring) {
            Report(message, true);
            return;
        }
        // Not while the user is still typing, and not again for the same text.
        if (editGeneration_ == reportedGeneration_)
            return;
        if (std::chrono::steady_clock::now() - lastEdit_ < kStillBeforeReport)
            return;
        reportedGeneration_ = editGeneration_;
        Report(message, false);
    } catch (...) {
        // Nothing is left to report with; the loop must go on regardless.
    }
}

QString TApplication::BoxText(const std::string& text)
{
    const std::string shown = Shortened(text);
    return QString::fromLocal8Bit(shown.data(), static_cast<qsizetype>(shown.size()));
}

void TApplication::ShowException(const Exception& e)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("vost"), BoxText(e.Message()));
    box.exec();
}

void TApplication::Report(const std::string& message, bool activate)
{
    const QString text = BoxText(message);
    // One report box at most: a newer report replaces its text, and it never
    // blocks the loop, so frames go on and the text box keeps working.
    if (!report_) {
        report_ = new QMessageBox(QMessageBox::Critical, QStringLiteral("vost"), text,
                                  QMessageBox::Ok, mainForm_);
        report_->setAttribute(Qt::WA_DeleteOnClose);
        report_->setWindowModality(Qt::NonModal);
    } else {
        report_->setText(text);
    }
    report_->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    if (!report_->isVisible())
        report_->show();
    if (activate) {
        report_->raise();
        report_->activateWindow();
    }
}

void ShowMessage(const AnsiString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("vost"),
                    QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
    box.exec();
}
