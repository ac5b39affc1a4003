// While it lives, the user's input reaches one window alone, as under a modal
// dialog; but a window manager's close still reaches every window, which Qt
// drops for a window a modal dialog blocks. A long load uses it so that
// closing the control window during the load ends the program.
#pragma once

#include <QObject>
#include <QWidget>

class InputGate : public QObject
{
public:
    // Input goes to `open`'s window, and to any modal dialog shown meanwhile.
    explicit InputGate(const QWidget& open);
    ~InputGate() override;
    InputGate(const InputGate&) = delete;
    InputGate& operator=(const InputGate&) = delete;

protected:
    bool eventFilter(QObject* target, QEvent* event) override;

private:
    const QWidget& open_;
};
