#include "Unit_view.h"

#include "Unit_vost.h"
#include "cloudpoints.h"

#include <GL/gl.h>

Tview_Form* view_Form = nullptr;

namespace {

constexpr PIXELFORMATDESCRIPTOR kPixelFormat = {
    sizeof(PIXELFORMATDESCRIPTOR),
    1,
    PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER,
    PFD_TYPE_RGBA,
    24,
    0, 0, 0, 0, 0, 0,
    0, 0,
    0, 0, 0, 0, 0,
    32,
    0,
    0,
    PFD_MAIN_PLANE,
    0,
    0, 0, 0,
};

// Half the visible span along the window's shorter side, and the depth range.
constexpr float R = 50.0f;
constexpr GLfloat kStepDegrees = 5.0f;

// Closes the point primitive and flushes, also when a line fails part way:
// a failed frame is never swapped, and without the flush a software renderer
// piles up one unfinished frame per idle call and stalls the whole program.
class PointsPrimitive
{
public:
    PointsPrimitive() { glBegin(GL_POINTS); }
    ~PointsPrimitive()
    {
        glEnd();
        glFlush();
    }
    PointsPrimitive(const PointsPrimitive&) = delete;
    PointsPrimitive& operator=(const PointsPrimitive&) = delete;
};

} // namespace

Tview_Form::Tview_Form()
{
    setupUi(this);
    Application->SetOnIdle([this](TObject* Sender, bool& Done) { AppIdle(Sender, Done); });
}

void Tview_Form::FormCreate(TObject* /*Sender*/)
{
    DC = GetDC(Handle());
    SetupPixelFormat();
    GLRC = wglCreateContext(DC);
    if (!GLRC)
        ShowMessage(":-)~ hrc == NULL");
    if (!wglMakeCurrent(DC, GLRC))
        ShowMessage("Could not MakeCurrent");
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glClearColor(0, 0, 0, 1);
}

void Tview_Form::SetupPixelFormat()
{
    const PIXELFORMATDESCRIPTOR descriptor = kPixelFormat;
    PixelFormatIndex = ChoosePixelFormat(DC, &descriptor);
    SetPixelFormat(DC, PixelFormatIndex, &descriptor);
}

void Tview_Form::FormDestroy(TObject* /*Sender*/)
{
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(GLRC);
    GLRC = nullptr;
    ReleaseDC(Handle(), DC);
    DC = nullptr;
}

void Tview_Form::AppIdle(TObject* /*Sender*/, bool& Done)
{
    Done = false;
    DrawFrame();
    SwapBuffers(DC);
}

void Tview_Form::DrawFrame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    RenderScene();
    glFlush();
}

void Tview_Form::FormPaint(TObject* /*Sender*/)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glFlush();
    RenderScene();
}

void Tview_Form::RenderScene()
{
    DrawPoints();
}

void Tview_Form::DrawPoints()
{
    TStringList scratch;
    const TStrings& lines = *control_Form->Memo1->Lines;
    const PointsPrimitive points;
    glColor3f(1, 0, 0);
    for (int i = 0; i < lines.Count(); ++i) {
        try {
            const CloudPoint p = ParsePointLine(lines.View(i), scratch);
            glVertex3f(static_cast<GLfloat>(p.x), static_cast<GLfloat>(p.y),
                       static_cast<GLfloat>(p.z));
        } catch (Exception& e) {
            // The report names the line, counted from 1 as a person does.
            e.SetMessage("Line " + std::to_string(i + 1) + ": " + e.Message());
            throw;
        }
    }
}

void Tview_Form::FormResize(TObject* /*Sender*/)
{
    ViewW = static_cast<float>(ClientWidth());
    ViewH = static_cast<float>(ClientHeight());
    if (ViewH == 0)
        ViewH = 1;
    // A width of 0 (a minimised window) would divide below; it is taken as 1 too.
    if (ViewW == 0)
        ViewW = 1;
    glViewport(0, 0, static_cast<GLsizei>(ViewW), static_cast<GLsizei>(ViewH));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (ViewW > ViewH)
        glOrtho(-R * ViewW / ViewH, R * ViewW / ViewH, -R, R, -R, R);
    else
        glOrtho(-R, R, -R * ViewH / ViewW, R * ViewH / ViewW, -R, R);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void Tview_Form::FormKeyDown(TObject* /*Sender*/, WORD& Key, TShiftState /*Shift*/)
{
    if (Key == VK_UP)
        glRotatef(-kStepDegrees, 1, 0, 0);
    if (Key == VK_DOWN)
        glRotatef(kStepDegrees, 1, 0, 0);
    if (Key == VK_LEFT)
        glRotatef(-kStepDegrees, 0, 1, 0);
    if (Key == VK_RIGHT)
        glRotatef(kStepDegrees, 0, 1, 0);
}
