#include "report.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <chrono>

namespace {

// How long the text must have been still before a recurring failure shows.
constexpr std::chrono::milliseconds kStill{1000};

struct
{
    QPointer<QWidget> owner;
    QPointer<QMessageBox> box;
    unsigned long long edits = 0;
    unsigned long long reportedAt = ~0ull;
    std::chrono::steady_clock::time_point lastEdit{};
} state;

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
QString BoxText(const std::string& message)
{
    constexpr std::size_t kHead = 300;
    constexpr std::size_t kTail = 200;
    std::string shown = message;
    if (message.size() > kHead + kTail) {
        const auto [head, tail] = Ends(message, kHead, kTail);
        shown.assign(head).append("...").append(tail);
    }
    return QString::fromLocal8Bit(shown.data(), static_cast<qsizetype>(shown.size()));
}

// One report box at most: a newer report replaces its text. It never blocks
// the loop, so frames go on and the text box keeps working; a recurring
// failure's box does not take the keyboard from the text box either.
void Show(const std::string& message, bool activate)
{
    const QString text = BoxText(message);
    if (!state.box) {
        state.box = new QMessageBox(QMessageBox::Critical, QStringLiteral("vost"), text,
                                    QMessageBox::Ok, state.owner);
        state.box->setAttribute(Qt::WA_DeleteOnClose);
        state.box->setWindowModality(Qt::NonModal);
    } else {
        state.box->setText(text);
    }
    state.box->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    if (!state.box->isVisible())
        state.box->show();
    if (activate) {
        state.box->raise();
        state.box->activateWindow();
    }
}

} // namespace

void ReportFailure(std::exception_ptr error, bool recurring) noexcept
{
    try {
        const std::string message = MessageOf(error);
        if (!recurring) {
            Show(message, true);
            return;
        }
        if (state.edits == state.reportedAt ||
            std::chrono::steady_clock::now() - state.lastEdit < kStill)
            return;
        state.reportedAt = state.edits;
        Show(message, false);
    } catch (...) {
        // Nothing is left to report with; the loop must go on regardless.
    }
}

void NoteEdit()
{
    ++state.edits;
    state.lastEdit = std::chrono::steady_clock::now();
}

void SetReportOwner(QWidget* owner)
{
    state.owner = owner;
}

void CloseReport()
{
    delete state.box.data();
}

void ShowFailure(const Exception& e)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("vost"), BoxText(e.Message()));
    box.exec();
}

void ShowMessage(const AnsiString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("vost"),
                    QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
    box.exec();
}

TModalResult AskToSave(const AnsiString& question)
{
    QMessageBox box(
        QMessageBox::Question, QStringLiteral("vost"),
        QString::fromLocal8Bit(question.data(), static_cast<qsizetype>(question.size())),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, state.owner);
    // Access keys of their own, whatever the desktop calls the buttons.
    box.button(QMessageBox::Save)->setText(QStringLiteral("&Save"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("&Discard"));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return mrYes;
    case QMessageBox::Discard:
        return mrNo;
    default:
        return mrCancel;
    }
}
