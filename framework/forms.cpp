#include "forms.h"

#include "wgl.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QVariant>

WORD VirtualKeyOf(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Space:
        return VK_SPACE;
    default:
        break;
    }
    // Letters and digits have their capital ASCII code.
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return static_cast<WORD>(qtKey);
    return 0;
}

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers)
{
    TShiftState state = 0;
    if (modifiers & Qt::ShiftModifier)
        state |= ssShift;
    if (modifiers & Qt::AltModifier)
        state |= ssAlt;
    if (modifiers & Qt::ControlModifier)
        state |= ssCtrl;
    return state;
}

TForm::TForm(QWidget* parent) : QMainWindow(parent) {}

TForm::~TForm() = default;

void TForm::Show()
{
    show();
    raise();
    activateWindow();
}

int TForm::ClientWidth() const
{
    const QWidget* client = centralWidget() ? centralWidget() : this;
    return qRound(client->width() * devicePixelRatioF());
}

int TForm::ClientHeight() const
{
    const QWidget* client = centralWidget() ? centralWidget() : this;
    return qRound(client->height() * devicePixelRatioF());
}

void TForm::Loaded()
{
    // Qt's .ui keeps only the size of a top-level window; the place comes in
    // the description's Left and Top.
    const QVariant left = property("Left");
    const QVariant top = property("Top");
    if (left.isValid() && top.isValid())
        move(left.toInt(), top.toInt());
    // Lay the components out now, so a hidden window already has its client size.
    if (layout())
        layout()->activate();
    Application->Guard([this] { emit OnCreate(this); });
}

void TForm::BeforeDestruction()
{
    Application->Guard([this] { emit OnDestroy(this); });
}

TGLClient* TForm::GLClient()
{
    if (!glClient_) {
        glClient_ = new TGLClient(this);
        setCentralWidget(QWidget::createWindowContainer(glClient_, this));
        if (layout())
            layout()->activate();
    }
    return glClient_;
}

void TForm::KeyDown(int qtKey, Qt::KeyboardModifiers modifiers)
{
    WORD key = VirtualKeyOf(qtKey);
    if (key == 0)
        return;
    const TShiftState shift = ShiftStateOf(modifiers);
    Application->Guard([&] { emit OnKeyDown(this, key, shift); });
}

void TForm::Paint()
{
    Application->Guard([this] { emit OnPaint(this); }, true);
}

void TForm::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Application->Guard([this] { emit OnResize(this); });
}

void TForm::keyPressEvent(QKeyEvent* event)
{
    KeyDown(event->key(), event->modifiers());
    QMainWindow::keyPressEvent(event);
}

void TForm::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program; any other window only hides.
    // Qt would destroy the native window on close, and with it the GL surface.
    if (!Application || Application->MainForm() != this) {
        event->ignore();
        hide();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit Closed();
}
