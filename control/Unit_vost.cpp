#include "Unit_vost.h"

#include "Unit_view.h"

Tcontrol_Form* control_Form = nullptr;

Tcontrol_Form::Tcontrol_Form()
{
    setupUi(this);
}

void Tcontrol_Form::Open1Click()
{
    Application->Guard([this] {
        if (!OpenDialog1->Execute())
            return;
        const AnsiString path = OpenDialog1->FileName();
        // The path shows before the file is read, also when the read fails.
        Edit1->SetText(path);
        Memo1->Lines->LoadFromFile(path);
    });
}

void Tcontrol_Form::Button1Click()
{
    Application->Guard([] { view_Form->Show(); });
}
