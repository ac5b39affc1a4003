#include "Unit_vost.h"

#include "report.h"

Tcontrol_Form* control_Form = nullptr;

Tcontrol_Form::Tcontrol_Form()
{
    setupUi(this);
}

void Tcontrol_Form::Open1Click(TObject* /*Sender*/)
{
    if (ChangesSettled() && OpenDialog1->Execute())
        OpenFile(OpenDialog1->FileName());
}

void Tcontrol_Form::Save1Click(TObject* /*Sender*/)
{
    Save();
}

void Tcontrol_Form::SaveAs1Click(TObject* /*Sender*/)
{
    SaveAs();
}

void Tcontrol_Form::FormCloseQuery(TObject* /*Sender*/, bool& CanClose)
{
    CanClose = ChangesSettled();
}

bool Tcontrol_Form::Save()
{
    if (fileName_.empty())
        return SaveAs();
    return Memo1->Lines->SaveToFile(fileName_);
}

bool Tcontrol_Form::SaveAs()
{
    if (!SaveDialog1->Execute() || !Memo1->Lines->SaveToFile(SaveDialog1->FileName()))
        return false;
    fileName_ = SaveDialog1->FileName();
    Edit1->SetText(fileName_);
    return true;
}

bool Tcontrol_Form::ChangesSettled()
{
    if (!Memo1->Modified())
        return true;
    switch (AskToSave("The text has changed. Save the changes first?")) {
    case mrYes:
        return Save();
    case mrNo:
        return true;
    default:
        return false;
    }
}

void Tcontrol_Form::OpenFile(const AnsiString& path)
{
    const AnsiString shown = Edit1->Text();
    // The path shows before the file is read, also when the read fails.
    Edit1->SetText(path);
    // A load the user cancels changes nothing, the path included.
    if (!Memo1->Lines->LoadFromFile(path))
        Edit1->SetText(shown);
    else
        fileName_ = path;
}

void Tcontrol_Form::Button1Click(TObject* /*Sender*/)
{
    view_Form->Show();
}
