// Qt makes a widget's accessible interface whenever one is asked for, with or
// without an assistive technology listening, and QScintilla's counts the
// characters from the start of the text up to the caret at every caret move:
// 0.4 s a key at the end of 100 MB. Without a listener a text box has a
// plain one.
#pragma once

// Once, after QScintilla has installed its own: the last installed is asked first.
void UsePlainAccessibleTextBoxes();
