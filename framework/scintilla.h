#pragma once

#include <Qsci/qsciscintillabase.h>

// Scintilla takes its first argument unsigned, while the text's positions and
// lines are signed, as Scintilla returns them.
inline long Send(const QsciScintillaBase& editor, unsigned int message, long w = 0, long l = 0)
{
    return editor.SendScintilla(message, static_cast<unsigned long>(w), l);
}

// A document that keeps no styles, which would take a byte per character. A
// large one counts its lines' positions in 64 bits, or they would wrap at 2 GB.
inline void UseTextOnlyDocument(QsciScintillaBase& editor, bool large = false)
{
    using S = QsciScintillaBase;
    const long document = Send(editor, S::SCI_CREATEDOCUMENT, 0,
                               static_cast<long>(S::SC_DOCUMENTOPTION_STYLES_NONE |
                                                 (large ? S::SC_DOCUMENTOPTION_TEXT_LARGE
                                                        : S::SC_DOCUMENTOPTION_DEFAULT)));
    Send(editor, S::SCI_SETDOCPOINTER, 0, document);
    Send(editor, S::SCI_RELEASEDOCUMENT, 0, document);
}
