#include "lines.h"

#include "fileload.h"
#include "files.h"
#include "filesave.h"

TStrings::TStrings(TextStore& text, QWidget& owner) : text_(text), owner_(owner) {}

std::int64_t TStrings::Count() const
{
    const std::int64_t length = text_.Length();
    if (length == 0)
        return 0;
    const char last = text_.At(length - 1);
    return text_.LineCount() - (last == '\n' || last == '\r' ? 1 : 0);
}

std::string TStrings::Strings(std::int64_t index) const
{
    if (index < 0 || index >= Count())
        throw EStringListError::IndexOutOfBounds(index);
    const std::int64_t start = text_.LineStart(index);
    return text_.Text(start, text_.LineEnd(index) - start);
}

bool TStrings::LoadFromFile(const AnsiString& fileName)
{
    TextBuilder built;
    FileLoad load(owner_, tap_);
    if (!load.Read(fileName, built))
        return false;
    try {
        text_.Adopt(std::move(built), load.Made());
    } catch (const ETooManyLines& e) {
        FailToOpen(fileName, "It has " + std::to_string(e.Lines) + " lines: at most " +
                                 std::to_string(e.Most) + " can be opened.");
    }
    return true;
}

bool TStrings::SaveToFile(const AnsiString& fileName)
{
    if (!FileSave(owner_).Write(text_, fileName))
        return false;
    text_.MarkSaved();
    return true;
}
