// The text box's text as a list of lines, each without its line break. A
// break is CR LF, a lone CR or a lone LF; one at the very end of the text
// does not begin a further line.
#pragma once

#include "lineschange.h"
#include "loadtap.h"
#include "sysutils.h"
#include "textstore.h"

#include <vector>

class QWidget;

class TStrings
{
public:
    // The lines of `text`, which the text box `owner` shows.
    TStrings(TextStore& text, QWidget& owner);

    std::int64_t Count() const;
    // Line `index`'s bytes; EStringListError past the end.
    std::string Strings(std::int64_t index) const;

    // The whole text replaced by the file's, byte for byte. A failure leaves
    // the text as it was. A long load shows its progress and may be
    // cancelled: false then, and nothing changed.
    bool LoadFromFile(const AnsiString& fileName);

    // The text written to the file, byte for byte, in its place; it is then
    // the text saved. A failure leaves the file as it was. A long save shows
    // its progress and may be cancelled: false then.
    bool SaveToFile(const AnsiString& fileName);

    // The text itself, to read lines in bulk.
    const TextStore& Store() const { return text_; }

    // The changes since the last call, in the order made.
    std::vector<LinesChange> TakeChanges() { return std::exchange(changes_, {}); }
    // Told of every change by the text box.
    void Changed(LinesChange change) { changes_.push_back(std::move(change)); }

    // Given every load's text as it comes in, from now on (none with null).
    void SetLoadTap(LoadTap* tap) { tap_ = tap; }

private:
    TextStore& text_;
    QWidget& owner_;
    LoadTap* tap_ = nullptr;
    std::vector<LinesChange> changes_;
};
