// A file's text read into memory of its own with its progress shown, its
// points converted beside it, to take the text box's place once all of it is
// in: a load that fails or is cancelled changes nothing.
#pragma once

#include "loadtap.h"
#include "sysutils.h"
#include "textbuilder.h"

#include <QWidget>

#include <any>

class FileLoad
{
public:
    // Shows its progress over `owner`; hands the text to `tap` as it comes in.
    FileLoad(QWidget& owner, LoadTap* tap);
    // Tells the tap of a load that did not complete.
    ~FileLoad();
    FileLoad(const FileLoad&) = delete;
    FileLoad& operator=(const FileLoad&) = delete;

    // Reads the whole file into `built` and waits for the tap. False when the
    // user cancelled. A file that cannot be read raises an Exception naming it.
    bool Read(const AnsiString& fileName, TextBuilder& built);
    // What the tap made of the text read, once.
    std::any Made();

private:
    QWidget& owner_;
    LoadTap* tap_;
    bool tapping_ = false; // the tap has a load it has not finished
};
