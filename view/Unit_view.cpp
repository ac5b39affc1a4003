#include "Unit_view.h"

#include "Unit_vost.h"
#include "application.h"
#include "report.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <array>
#include <cstdio>

TForm* view_Form = nullptr;

namespace {

constexpr PIXELFORMATDESCRIPTOR kPixelFormat = {
    sizeof(PIXELFORMATDESCRIPTOR),
    1,
    PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER,
    PFD_TYPE_RGBA,
    24,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    32,
    0,
    0,
    PFD_MAIN_PLANE,
    0,
    0,
    0,
    0,
};

// Half the visible span along the window's shorter side, and the depth range.
constexpr float R = 50.0f;
constexpr GLfloat kStepDegrees = 5.0f;

// Lines converted in one frame at most where pictures take several frames:
// about 10 ms, so that a large paste holds nothing up.
constexpr int kLinesPerFrame = 100000;

} // namespace

Tview_Form::Tview_Form() : loader_(DecimalSeparator())
{
    setupUi(this);
    control_Form->Memo1->Lines->SetLoadTap(&loader_);
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
    picture_ = std::make_unique<TPicture>();
}

void Tview_Form::SetupPixelFormat()
{
    const PIXELFORMATDESCRIPTOR descriptor = kPixelFormat;
    PixelFormatIndex = ChoosePixelFormat(DC, &descriptor);
    SetPixelFormat(DC, PixelFormatIndex, &descriptor);
}

void Tview_Form::FormDestroy(TObject* /*Sender*/)
{
    control_Form->Memo1->Lines->SetLoadTap(nullptr);
    picture_.reset(); // while its context is current
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

// Every line of the text box is one red point, in order, up to the first line
// that is not a point, whose error then leaves the pass and nothing is drawn.
// The lines converted earlier are kept: only lines edited since the last frame
// are converted again, and a load's lines while it fills the text box.
void Tview_Form::DrawPoints()
{
    TStrings& lines = *control_Form->Memo1->Lines;
    points_.Apply(lines.TakeChanges());
    const int count = lines.Count();
    const int budget = picture_ && picture_->Offscreen() ? kLinesPerFrame : count;
    const auto [good, complete] = points_.Update(
        lines.TextLineCount(), count,
        [&lines](int begin, int end) { return lines.Range(begin, end); }, DecimalSeparator(),
        budget);
    if (complete && good < count)
        points_.RaiseBadLine();
    glColor3f(1, 0, 0);
    if (!picture_)
        return;
    if (complete)
        picture_->Draw(points_.Version(), points_.Vertices().data(), count);
    else
        picture_->Present();
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
    if (Key == VK_UP || Key == VK_DOWN || Key == VK_LEFT || Key == VK_RIGHT)
        KeepRotation();
}

// Each turn is a product in float, and the errors build up: after ten
// thousand turns the matrix was 3e-4 off a rotation and began to scale and
// shear the cloud. One step of the polar iteration, R (3I - RtR) / 2, takes
// it back to the nearest rotation, so the error stays that of one product.
void Tview_Form::KeepRotation()
{
    std::array<GLfloat, 16> m{};
    glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
    if (m[15] != 1)
        return; // no context to read from
    const auto at = [&m](std::size_t column, std::size_t row) -> GLfloat& {
        return m[column * 4 + row];
    };
    std::array<std::array<double, 3>, 3> gram{};
    for (std::size_t a = 0; a < 3; ++a)
        for (std::size_t b = 0; b < 3; ++b)
            for (std::size_t k = 0; k < 3; ++k)
                gram[a][b] += static_cast<double>(at(a, k)) * at(b, k);
    std::array<GLfloat, 16> out = m;
    for (std::size_t column = 0; column < 3; ++column) {
        for (std::size_t row = 0; row < 3; ++row) {
            double sum = 0;
            for (std::size_t b = 0; b < 3; ++b)
                sum += at(b, row) * ((b == column ? 3.0 : 0.0) - gram[b][column]);
            out[column * 4 + row] = static_cast<GLfloat>(sum / 2);
        }
    }
    glLoadMatrixf(out.data());
}
