#include "glclient.h"

#include <QKeyEvent>

TGLClient::TGLClient()
{
    setSurfaceType(QSurface::OpenGLSurface);
}

void TGLClient::exposeEvent(QExposeEvent* /*event*/)
{
    if (isExposed())
        emit Exposed();
}

void TGLClient::keyPressEvent(QKeyEvent* event)
{
    emit KeyPressed(event->key(), event->modifiers());
}
