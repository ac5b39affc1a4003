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

public slots:
    void Open1Click();
    void Button1Click();
};

extern Tcontrol_Form* control_Form;
