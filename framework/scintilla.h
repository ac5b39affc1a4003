#pragma once

#include <Qsci/qsciscintillabase.h>

// Scintilla takes its first argument unsigned, while the text's positions and
// lines are signed, as Scintilla returns them.
inline long Send(const QsciScintillaBase& editor, unsigned int message, long w = 0, long l = 0)
{
    return editor.SendScintilla(message, static_cast<unsigned long>(w), l);
}
