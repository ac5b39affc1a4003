// The program's entry: the application object, the two windows in their
// order, the message loop, and the guard over what escapes it.
#include "Unit_view.h"
#include "Unit_vost.h"
#include "application.h"

int main()
{
    TApplication application;
    try {
        Application->Initialize();
        Application->CreateForm<Tcontrol_Form>(control_Form);
        Application->CreateForm<Tview_Form>(view_Form);
        Application->Run();
    } catch (const Exception& exception) {
        Application->ShowException(exception);
    } catch (...) {
        try {
            throw Exception("");
        } catch (const Exception& exception) {
            Application->ShowException(exception);
        }
    }
    return 0;
}
