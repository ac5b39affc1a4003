// The view window: draws the control window's lines as red points through
// OpenGL, on every idle moment, and turns them with the arrow keys.
#pragma once

#include "cloudcache.h"
#include "cloudloader.h"
#include "forms.h"
#include "picture.h"
#include "ui_Unit_view.h"
#include "wgl.h"

#include <memory>

class Tview_Form : public TForm, public Ui::Tview_Form
{
    Q_OBJECT

public:
    Tview_Form();

    void AppIdle(TObject* Sender, bool& Done);
    void DrawFrame();
    void RenderScene();
    void DrawPoints();

public slots:
    void FormCreate(TObject* Sender);
    void FormDestroy(TObject* Sender);
    void FormKeyDown(TObject* Sender, WORD& Key, TShiftState Shift);
    void FormPaint(TObject* Sender);
    void FormResize(TObject* Sender);

private:
    void SetupPixelFormat();
    void KeepRotation();

    // The surface and the one context, from FormCreate to FormDestroy, and
    // the client area's size as the last resize took it.
    HDC DC = nullptr;
    HGLRC GLRC = nullptr;
    int PixelFormatIndex = 0;
    float ViewW = 0;
    float ViewH = 0;

    // The lines' points as converted so far, and as a load converts them; see DrawPoints.
    CloudCache points_;
    CloudLoader loader_;
    std::unique_ptr<Picture> picture_;
};
