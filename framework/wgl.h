// The window-system side of OpenGL in the shape the view calls it: a device
// context for a window, a pixel format, rendering contexts, buffer swaps.
#pragma once

#include <QOpenGLContext>

#include <cstdint>

class TForm;
class TGLClient;

using BOOL = int;
using BYTE = std::uint8_t;
using DWORD = std::uint32_t;
inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

using HWND = TForm*;
struct TDeviceContext;
using HDC = TDeviceContext*;
using HGLRC = QOpenGLContext*;

struct PIXELFORMATDESCRIPTOR
{
    std::uint16_t nSize;
    std::uint16_t nVersion;
    DWORD dwFlags;
    BYTE iPixelType;
    BYTE cColorBits;
    BYTE cRedBits;
    BYTE cRedShift;
    BYTE cGreenBits;
    BYTE cGreenShift;
    BYTE cBlueBits;
    BYTE cBlueShift;
    BYTE cAlphaBits;
    BYTE cAlphaShift;
    BYTE cAccumBits;
    BYTE cAccumRedBits;
    BYTE cAccumGreenBits;
    BYTE cAccumBlueBits;
    BYTE cAccumAlphaBits;
    BYTE cDepthBits;
    BYTE cStencilBits;
    BYTE cAuxBuffers;
    BYTE iLayerType;
    BYTE bReserved;
    DWORD dwLayerMask;
    DWORD dwVisibleMask;
    DWORD dwDamageMask;
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);

inline constexpr DWORD PFD_DOUBLEBUFFER = 0x1;
inline constexpr DWORD PFD_DRAW_TO_WINDOW = 0x4;
inline constexpr DWORD PFD_SUPPORT_OPENGL = 0x20;
inline constexpr BYTE PFD_TYPE_RGBA = 0;
inline constexpr BYTE PFD_MAIN_PLANE = 0;

// The window's client area as a drawing surface; held until released.
HDC GetDC(HWND window);
void ReleaseDC(HWND window, HDC dc);

// There is one format per surface, the descriptor's: index 1, or 0 where the
// descriptor does not ask for an OpenGL window.
int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor);
BOOL SetPixelFormat(HDC dc, int index, const PIXELFORMATDESCRIPTOR* descriptor);

// Null where the system has no OpenGL for the surface.
HGLRC wglCreateContext(HDC dc);
// A null context makes none current and succeeds.
BOOL wglMakeCurrent(HDC dc, HGLRC context);
BOOL wglDeleteContext(HGLRC context);

BOOL SwapBuffers(HDC dc);

// An OpenGL entry point of the current context, null where it has none: the
// calls above OpenGL 1.1 are reached this way, not linked.
using PROC = void (*)();
PROC wglGetProcAddress(const char* name);
