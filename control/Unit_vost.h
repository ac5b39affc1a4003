// The control window: the text box that holds the points, the file opening,
// and the button that brings up the view.
#pragma once

#include "forms.h"
#include "ui_Unit_vost.h"

class Tcontrol_Form : public TForm, public Ui::Tcontrol_Form
{
    Q_OBJECT

public:
    Tcontrol_Form();

    // Opens the file as File > Open does once the dialog has named it.
    void OpenFile(const AnsiString& path);

public slots:
    void Open1Click(TObject* Sender);
    void Button1Click(TObject* Sender);
};

extern Tcontrol_Form* control_Form;

// The view window, made by the application and defined by its own unit: to
// the control window it is a form to show.
extern TForm* view_Form;
