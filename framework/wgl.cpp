#include "wgl.h"

#include "forms.h"
#include "glclient.h"

#include <QSurfaceFormat>

struct TDeviceContext
{
    TGLClient* surface;
};

namespace {

// What the program made current. Qt lets go of a context when its window
// hides; the program expects it to stay current, so it is taken back.
struct Binding
{
    HDC dc = nullptr;
    HGLRC context = nullptr;
} current;

} // namespace

HDC GetDC(HWND window)
{
    if (!window)
        return nullptr;
    window->winId();
    TGLClient* surface = window->GLClient();
    const auto takeBack = [surface](bool always) {
        if (current.context && current.dc && current.dc->surface == surface &&
            (always || QOpenGLContext::currentContext() != current.context))
            current.context->makeCurrent(surface);
    };
    QObject::connect(surface, &QWindow::visibleChanged, surface, [takeBack] { takeBack(false); });
    // On Wayland the window's EGL surface is made anew once it is given its
    // place on screen, and a context still bound to the old one swaps nothing.
    QObject::connect(surface, &TGLClient::Exposed, surface, [takeBack] { takeBack(true); });
    return new TDeviceContext{surface};
}

void ReleaseDC(HWND /*window*/, HDC dc)
{
    if (current.dc == dc)
        current = {};
    delete dc;
}

int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor)
{
    if (!dc || !descriptor)
        return 0;
    const DWORD needed = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
    return (descriptor->dwFlags & needed) == needed ? 1 : 0;
}

BOOL SetPixelFormat(HDC dc, int index, const PIXELFORMATDESCRIPTOR* descriptor)
{
    // A surface takes its pixel format once, as a window does under WGL.
    if (!dc || !descriptor || index != 1 || dc->surface->handle())
        return FALSE;
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setSwapBehavior((descriptor->dwFlags & PFD_DOUBLEBUFFER) ? QSurfaceFormat::DoubleBuffer
                                                                    : QSurfaceFormat::SingleBuffer);
    const int channel = descriptor->cColorBits / 3;
    format.setRedBufferSize(channel);
    format.setGreenBufferSize(channel);
    format.setBlueBufferSize(channel);
    format.setAlphaBufferSize(descriptor->cAlphaBits);
    format.setDepthBufferSize(descriptor->cDepthBits);
    format.setStencilBufferSize(descriptor->cStencilBits);
    dc->surface->setFormat(format);
    dc->surface->create();
    return dc->surface->handle() ? TRUE : FALSE;
}

HGLRC wglCreateContext(HDC dc)
{
    if (!dc || !dc->surface->handle())
        return nullptr;
    auto context = std::make_unique<QOpenGLContext>();
    context->setFormat(dc->surface->requestedFormat());
    if (!context->create())
        return nullptr;
    return context.release();
}

BOOL wglMakeCurrent(HDC dc, HGLRC context)
{
    current = {};
    if (!context) {
        if (QOpenGLContext* active = QOpenGLContext::currentContext())
            active->doneCurrent();
        return TRUE;
    }
    if (!dc || !context->makeCurrent(dc->surface))
        return FALSE;
    current = {dc, context};
    return TRUE;
}

BOOL wglDeleteContext(HGLRC context)
{
    if (!context)
        return FALSE;
    if (QOpenGLContext::currentContext() == context)
        context->doneCurrent();
    if (current.context == context)
        current = {};
    delete context;
    return TRUE;
}

BOOL SwapBuffers(HDC dc)
{
    QOpenGLContext* current = QOpenGLContext::currentContext();
    if (!dc || !current || current->surface() != dc->surface)
        return FALSE;
    // A window that is not on screen has nowhere to present to; Qt calls a
    // swap there undefined, so the frame is dropped.
    if (dc->surface->isExposed())
        current->swapBuffers(dc->surface);
    return TRUE;
}

PROC wglGetProcAddress(const char* name)
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? context->getProcAddress(name) : nullptr;
}
