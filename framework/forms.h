// Windows: the form base with its events, and the keyboard codes handlers see.
#pragma once

#include "sysutils.h"

#include <QMainWindow>

using TObject = QObject;
using WORD = unsigned short;

enum TShiftStateFlag : unsigned
{
    ssShift = 1u,
    ssAlt = 2u,
    ssCtrl = 4u
};
using TShiftState = unsigned;

inline constexpr WORD VK_LEFT = 37;
inline constexpr WORD VK_UP = 38;
inline constexpr WORD VK_RIGHT = 39;
inline constexpr WORD VK_DOWN = 40;

class TGLClient;

// A window whose components come from its .ui description. Its events are
// signals, bound by name to the handlers in that description; every one is
// raised through the guard.
class TForm : public QMainWindow
{
    Q_OBJECT

public:
    explicit TForm(QWidget* parent = nullptr);
    ~TForm() override;

    // The native window, made on first use.
    TForm* Handle()
    {
        winId();
        return this;
    }

    // Makes the window visible and brings it to the front.
    void Show();

    // The client area in device pixels.
    int ClientWidth() const;
    int ClientHeight() const;

    // Called by the application: after construction (places the window and
    // raises OnCreate), and before destruction (raises OnDestroy).
    void Loaded();
    void BeforeDestruction();

    // Closing the main window ends the program; closing any other only hides it.
    void MakeMain() { main_ = true; }

    // The client area as a native OpenGL surface, made on first use.
    TGLClient* GLClient();

signals:
    void OnCreate(TObject* Sender);
    void OnDestroy(TObject* Sender);
    void OnResize(TObject* Sender);
    void OnPaint(TObject* Sender);
    void OnKeyDown(TObject* Sender, WORD& Key, TShiftState Shift);
    // Before the window closes; leaving CanClose false keeps it open.
    void OnCloseQuery(TObject* Sender, bool& CanClose);
    void Closed();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void KeyDown(int qtKey, Qt::KeyboardModifiers modifiers);
    void Paint();

    TGLClient* glClient_ = nullptr;
    bool main_ = false;
    QSize outer_;         // as the description gives it, frame included
    bool fitted_ = false; // to the window manager's frame
};
