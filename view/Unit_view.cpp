#include "Unit_view.h"

#include "Unit_vost.h"
#include "application.h"
#include "report.h"
#include "rotation.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <array>

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
constexpr std::int64_t kLinesPerFrame = 100000;

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
    picture_ = std::make_unique<Picture>();
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
    // Not a picture the screen already shows.
    if (!picture_ || picture_->Unshown()) {
        SwapBuffers(DC);
        if (picture_)
            picture_->Shown();
    }
}

void Tview_Form::DrawFrame()
{
    // A picture drawn offscreen covers the whole back buffer.
    if (!picture_ || !picture_->Offscreen())
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    RenderScene();
    glFlush();
}

void Tview_Form::FormPaint(TObject* /*Sender*/)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glFlush();
    if (picture_)
        picture_->Exposed(); // the next frame presents what was cleared here
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
    std::vector<LinesChange> changes = lines.TakeChanges();
    const std::int64_t count = lines.Count();
    // Edits, a load or a text out of step may move or free the kept points:
    // the picture lets go of them first (see ComputePass::ReleasePoints).
    if (picture_ && (!changes.empty() || !points_.InStep(lines.Store().LineCount(), count)))
        picture_->ReleasePoints();
    points_.Apply(std::move(changes));
    const std::int64_t budget = picture_ && picture_->Offscreen() ? kLinesPerFrame : count;
    const auto [good, complete] = points_.Update(lines.Store(), count, DecimalSeparator(), budget);
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

void Tview_Form::KeepRotation()
{
    std::array<GLfloat, 16> m{};
    glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
    if (m[15] != 1)
        return; // no context to read from
    glLoadMatrixf(NearestRotation(m).data());
}
