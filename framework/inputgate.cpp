#include "inputgate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWindow>

InputGate::InputGate(const QWidget& open) : open_(open)
{
    QCoreApplication::instance()->installEventFilter(this);
}

InputGate::~InputGate()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputGate::eventFilter(QObject* target, QEvent* event)
{
    const QEvent::Type type = event->type();
    // A shortcut is sent to its action, past any window: a menu's among them.
    const bool input = event->isInputEvent() || type == QEvent::InputMethod ||
                       type == QEvent::Shortcut || type == QEvent::DragEnter ||
                       type == QEvent::DragMove || type == QEvent::Drop;
    // Under a modal dialog, Qt itself keeps input to that dialog.
    if (!input || QGuiApplication::modalWindow())
        return false;
    if (type == QEvent::Shortcut)
        return true;
    // Every other input reaches a window before its widgets.
    const auto* window = qobject_cast<const QWindow*>(target);
    return window && window != open_.windowHandle();
}
