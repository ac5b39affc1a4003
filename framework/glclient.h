// A window's client area as a native OpenGL surface. A plain widget's native
// window is a raster surface and takes no GL context; this one takes one and
// can be drawn into while hidden.
#pragma once

#include <QWindow>

class TGLClient : public QWindow
{
    Q_OBJECT

public:
    TGLClient();

signals:
    void Exposed();
    void KeyPressed(int key, Qt::KeyboardModifiers modifiers);

protected:
    void exposeEvent(QExposeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
