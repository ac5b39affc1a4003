// The standard controls the forms' descriptions name, besides the text box.
#pragma once

#include "forms.h"

#include <QLineEdit>
#include <QPushButton>

class QAction;

class TEdit : public QLineEdit
{
    Q_OBJECT

public:
    using QLineEdit::QLineEdit;

    AnsiString Text() const;
    void SetText(const AnsiString& text);
};

// Clicks raise OnClick through the guard, as the forms raise their events.
class TButton : public QPushButton
{
    Q_OBJECT

public:
    explicit TButton(QWidget* parent = nullptr);

signals:
    void OnClick(TObject* Sender);
};

// An item of the menu it is made in; nothing of its own shows.
class TMenuItem : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(QString ShortCut READ ShortCut WRITE setShortCut)

public:
    explicit TMenuItem(QWidget* menu = nullptr);

    QString Caption() const;
    void setCaption(const QString& caption);
    QString ShortCut() const;
    void setShortCut(const QString& keys);

signals:
    void OnClick(TObject* Sender);

private:
    QAction* action_;
};

// The open-file dialog: a component of its form with nothing to show until run.
class TOpenDialog : public QWidget
{
    Q_OBJECT

public:
    explicit TOpenDialog(QWidget* parent = nullptr) : TOpenDialog(parent, false) {}

    // Runs the dialog modally; true when the user chose a file.
    bool Execute();
    // The chosen file's full path.
    const AnsiString& FileName() const { return fileName_; }

protected:
    TOpenDialog(QWidget* parent, bool saving);

private:
    const bool saving_;
    AnsiString fileName_;
};

// The save-file dialog: the same, choosing where a file goes.
class TSaveDialog : public TOpenDialog
{
    Q_OBJECT

public:
    explicit TSaveDialog(QWidget* parent = nullptr) : TOpenDialog(parent, true) {}
};
