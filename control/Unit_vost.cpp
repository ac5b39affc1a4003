#include "Unit_vost.h"

Tcontrol_Form* control_Form = nullptr;

Tcontrol_Form::Tcontrol_Form()
{
    setupUi(this);
}

void Tcontrol_Form::Open1Click(TObject* /*Sender*/)
{
    if (OpenDialog1->Execute())
        OpenFile(OpenDialog1->FileName());
}

void Tcontrol_Form::OpenFile(const AnsiString& path)
{
    const AnsiString shown = Edit1->Text();
    // The path shows before the file is read, also when the read fails.
    Edit1->SetText(path);
    // A load the user cancels changes nothing, the path included.
    if (!Memo1->Lines->LoadFromFile(path))
        Edit1->SetText(shown);
}

void Tcontrol_Form::Button1Click(TObject* /*Sender*/)
{
    view_Form->Show();
}
