#include "controls.h"

#include "report.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMenu>

AnsiString TEdit::Text() const
{
    return text().toLocal8Bit().toStdString();
}

void TEdit::SetText(const AnsiString& text)
{
    setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

TButton::TButton(QWidget* parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, [this] { Guard([this] { emit OnClick(this); }); });
}

TMenuItem::TMenuItem(QWidget* menu) : QWidget(menu), action_(new QAction(this))
{
    hide();
    if (auto* owner = qobject_cast<QMenu*>(menu))
        owner->addAction(action_);
    connect(action_, &QAction::triggered, this, [this] { Guard([this] { emit OnClick(this); }); });
}

QString TMenuItem::Caption() const
{
    return action_->text();
}

void TMenuItem::setCaption(const QString& caption)
{
    action_->setText(caption);
}

QString TMenuItem::ShortCut() const
{
    return action_->shortcut().toString();
}

void TMenuItem::setShortCut(const QString& keys)
{
    action_->setShortcut(QKeySequence(keys));
}

namespace {

// Qt's file dialog with defaults throughout: no filter, title or folder of
// its own, and a typed name need not exist yet. Always Qt's own, never the
// desktop's: a desktop's dialog keeps a history of its own and may refuse a
// name that is no file.
class FileDialog : public QFileDialog
{
public:
    FileDialog(QWidget* parent, bool saving) : QFileDialog(parent)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::AnyFile);
        setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    }

    void done(int result) override
    {
        // The name completer's list may be up when the dialog closes (it comes
        // as the folder is read), holding the pointer until it goes with the
        // dialog: a click on the window behind in that moment would be lost.
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        QFileDialog::done(result);
    }
};

} // namespace

TOpenDialog::TOpenDialog(QWidget* parent, bool saving) : QWidget(parent), saving_(saving)
{
    hide();
}

bool TOpenDialog::Execute()
{
    FileDialog dialog(window(), saving_);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName_ = QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
    return true;
}
