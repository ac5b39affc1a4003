#include "forms.h"

#include "glclient.h"
#include "report.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QVariant>
#include <QWindow>

namespace {

// Only the turning keys reach handlers; the view takes no other.
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
    default:
        return 0;
    }
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

} // namespace

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
    outer_ = size();
    // Lay the components out now, so a hidden window already has its client size.
    if (layout())
        layout()->activate();
    Guard([this] { emit OnCreate(this); });
}

void TForm::BeforeDestruction()
{
    Guard([this] { emit OnDestroy(this); });
}

TGLClient* TForm::GLClient()
{
    if (!glClient_) {
        glClient_ = new TGLClient;
        connect(glClient_, &TGLClient::Exposed, this, &TForm::Paint);
        connect(glClient_, &TGLClient::KeyPressed, this, &TForm::KeyDown);
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
    Guard([&] { emit OnKeyDown(this, key, shift); });
}

void TForm::Paint()
{
    // Paints come again by themselves, as idle calls do.
    Guard([this] { emit OnPaint(this); }, true);
}

void TForm::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Guard([this] { emit OnResize(this); });
}

void TForm::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    // The description's size is the window's outer one, frame included. A
    // window manager says how large its frame is once the window is in it;
    // without one there is no frame, and the client area has the whole size.
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    if (fitted_ || frame.isNull())
        return;
    fitted_ = true;
    resize(outer_.shrunkBy(frame));
}

void TForm::keyPressEvent(QKeyEvent* event)
{
    KeyDown(event->key(), event->modifiers());
    QMainWindow::keyPressEvent(event);
}

void TForm::closeEvent(QCloseEvent* event)
{
    // A failure while asked keeps the window open.
    bool canClose = false;
    Guard([&] {
        bool answer = true;
        emit OnCloseQuery(this, answer);
        canClose = answer;
    });
    if (!canClose) {
        event->ignore();
        return;
    }
    // Qt would destroy a closed window's native surface, and with it the GL surface.
    if (!main_) {
        event->ignore();
        hide();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit Closed();
}
