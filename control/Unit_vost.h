// The control window: the text box that holds the points, the file opening
// and saving, and the button that brings up the view.
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
    void Save1Click(TObject* Sender);
    void SaveAs1Click(TObject* Sender);
    void Button1Click(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);

private:
    // Each true where the text was saved.
    bool Save();
    bool SaveAs();
    // True once changes not saved are saved or given up; false to stay.
    bool ChangesSettled();

    // The file the text was last opened from or saved to; none for a text
    // typed into the empty box.
    AnsiString fileName_;
};

extern Tcontrol_Form* control_Form;

// The view window, made by the application and defined by its own unit: to
// the control window it is a form to show.
extern TForm* view_Form;
