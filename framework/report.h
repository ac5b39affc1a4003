// The one place where failures of the program's handlers end, and the
// message boxes that show them.
#pragma once

#include "sysutils.h"

#include <exception>

class QWidget;

// A failure that left a handler: shown in a box that never blocks the loop,
// which goes on. A recurring handler (idle, paint) runs again by itself and
// keeps raising the same failure; that is shown once per state of the text,
// once the typing has paused.
void ReportFailure(std::exception_ptr error, bool recurring) noexcept;

// Every handler runs through here, since no exception may cross Qt's event loop.
template <class F> void Guard(F&& handler, bool recurring = false) noexcept
{
    try {
        handler();
    } catch (...) {
        ReportFailure(std::current_exception(), recurring);
    }
}

// The text changed: a recurring failure may be reported again, once it is still.
void NoteEdit();

// The window the report box belongs to; it closes with it.
void SetReportOwner(QWidget* owner);
// Closes the report box, if one is open.
void CloseReport();

// A box with the message that waits for the user; the entry's guard uses it,
// when no loop is left to keep a box up.
void ShowFailure(const Exception& e);

// The answers of a question in a box.
enum TModalResult
{
    mrCancel = 2,
    mrYes = 6,
    mrNo = 7
};

// Asks whether to save changes first: Save (mrYes), Discard (mrNo) or Cancel,
// each with a key of its own (Alt+S, Alt+D, Escape).
TModalResult AskToSave(const AnsiString& question);

// A modal message box showing the text.
void ShowMessage(const AnsiString& text);
