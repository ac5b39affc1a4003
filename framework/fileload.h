// A file's text read into a document of its own, with its progress shown, to
// take the text box's place once all of it is in.
#pragma once

#include "loadtap.h"
#include "longlines.h"
#include "sysutils.h"

#include <QWidget>

#include <memory>
#include <vector>

class FileLoad
{
public:
    // Shows its progress over `owner`; hands the text to `tap` as it comes in.
    FileLoad(QWidget& owner, LoadTap* tap);
    ~FileLoad();
    FileLoad(const FileLoad&) = delete;
    FileLoad& operator=(const FileLoad&) = delete;

    // False when the user cancelled. A file that cannot be read, or has more
    // lines than the text box takes, raises an Exception naming it.
    bool Read(const AnsiString& fileName);

    // The filled document, and positions of which each long line holds one;
    // the document lives as long as this does, or as whoever takes a hold of it.
    long Document() const;
    const std::vector<long>& Marks() const;

    // The text is about to take the text box's place: what the tap made of it.
    std::any Adopted();

private:
    class Filler;
    QWidget& owner_;
    LoadTap* tap_;
    bool tapStarted_ = false;
    std::unique_ptr<Filler> filler_;
};
