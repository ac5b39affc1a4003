// The program's entry: the command line, the application object, the two
// windows in their order, the message loop, and the guard over what escapes it.
#include "Unit_view.h"
#include "Unit_vost.h"
#include "application.h"
#include "commandline.h"

#include <iostream>

int main(int argc, char* argv[])
{
    const CommandLine command = ReadCommandLine(argc, argv, std::cout, std::cerr);
    if (command.ExitCode)
        return *command.ExitCode;
    TApplication application;
    try {
        Application->Initialize();
        Application->CreateForm<Tcontrol_Form>(control_Form);
        Application->CreateForm<Tview_Form>(view_Form);
        // Inside the loop, so that a file that cannot be opened is reported
        // as from the menu, and the program goes on.
        if (!command.FileName.empty())
            Application->Post([&command] { control_Form->OpenFile(command.FileName); });
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
