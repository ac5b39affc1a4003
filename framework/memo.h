// The text box and the list of its lines.
#pragma once

#include "changelog.h"
#include "loadtap.h"
#include "sysutils.h"

#include <Qsci/qsciscintilla.h>

#include <string_view>
#include <vector>

class LongLines;
class TMemo;

// The text box's text as a list of lines, each without its line break. A
// break is CR LF, a lone CR or a lone LF; one at the very end of the text
// does not begin a further line.
class TStrings
{
public:
    explicit TStrings(TMemo& memo);

    int Count() const;
    // Line `index`'s bytes in place in the text box, without a copy; valid
    // until the text next changes. EStringListError past the end.
    std::string_view View(int index) const;

    // The whole text replaced by the file's, byte for byte. A failure leaves
    // the text as it was. A long load shows its progress and may be
    // cancelled: false then, and nothing changed.
    bool LoadFromFile(const AnsiString& fileName);

    // The text's lines as the text box counts them: one more than Count()
    // where the text ends with a line break (the empty line after it).
    int TextLineCount() const;
    // The bytes of text lines [begin, end) with their line breaks, in place
    // in the text box; valid until the text next changes.
    std::string_view Range(int begin, int end) const;

    // The changes since the last call, in text lines and in the order made;
    // a change may be reported wider than it was.
    std::vector<LinesChange> TakeChanges();

    // Given every load's text as it comes in, from now on (none with null).
    void SetLoadTap(LoadTap* tap) { tap_ = tap; }

private:
    friend class TMemo;
    // Puts a filled document in the text's place.
    void Adopt(long document, const std::vector<long>& marks, std::any loaded);

    // The text box's text as the change log sees it.
    class Text : public TextLines
    {
    public:
        explicit Text(const QsciScintillaBase& editor) : editor_(editor) {}
        std::int64_t Length() const override;
        std::int64_t LineCount() const override;
        std::int64_t LineOf(std::int64_t position) const override;
        std::int64_t Gap() const override;

    private:
        const QsciScintillaBase& editor_;
    };

    TMemo& memo_;
    Text text_;
    mutable ChangeLog log_;
    LoadTap* tap_ = nullptr;
};

class TMemo : public QsciScintilla
{
    Q_OBJECT

public:
    explicit TMemo(QWidget* parent = nullptr);

    TStrings* const Lines;

public slots:
    // The context menu's paste too.
    void paste() override;

private:
    friend class TStrings;
    void OnModified(int position, int modificationType, int length);

    TStrings lines_;
    LongLines* longLines_;
};
