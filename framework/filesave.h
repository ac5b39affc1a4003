// A text written to its file whole or not at all, with its progress shown.
#pragma once

#include "sysutils.h"
#include "textstore.h"

class QWidget;

class FileSave
{
public:
    // Shows its progress over `owner`.
    explicit FileSave(QWidget& owner) : owner_(owner) {}

    // Writes the text's bytes, exactly, in the file's place. False when the
    // user cancelled: the file is then as it was. A file that cannot be
    // written raises an Exception naming it and the reason, and stays as it was.
    bool Write(const TextStore& text, const AnsiString& fileName);

private:
    QWidget& owner_;
};
