// The standard controls the forms' descriptions name.
#pragma once

#include "sysutils.h"

#include <QLineEdit>
#include <QWidget>
#include <Qsci/qsciscintilla.h>

#include <functional>
#include <string_view>
#include <vector>

class TMemo;

// The text box's text as a list of lines, each without its line break. A
// break is CR LF, a lone CR or a lone LF; one at the very end of the text
// does not begin a further line.
class TStrings
{
public:
    explicit TStrings(TMemo& memo) : memo_(memo) {}

    int Count() const;
    // Line `index`'s bytes; EStringListError past the end.
    std::string Strings(int index) const;
    std::string operator[](int index) const { return Strings(index); }
    // The same bytes in place in the text box, without a copy; valid until
    // the text next changes.
    std::string_view View(int index) const;

    // The whole text replaced by the file's, byte for byte. The file is read
    // whole first, so a failure leaves the text as it was. A long load shows
    // its progress and may be cancelled: false then, and nothing changed.
    bool LoadFromFile(const AnsiString& fileName);
    // How long a load runs before its progress shows.
    static inline int ProgressAfterMs = 500;

    AnsiString Text() const;
    void SetText(std::string_view text);

    // The text's lines as the text box counts them: one more than Count()
    // where the text ends with a line break (the empty line after it).
    int TextLineCount() const;
    // The bytes of text lines [begin, end) with their line breaks, in place
    // in the text box; valid until the text next changes.
    std::string_view Range(int begin, int end) const;

    // Told of every change: text lines [first, first + removed) became
    // `added` lines. A change may be reported wider than it was, and is
    // reported by the next reading of the lines after it.
    std::function<void(int first, int removed, int added)> OnChange;

private:
    friend class TMemo;
    // A change the text box is about to make, told to OnChange once made.
    void BeforeChange(long position, long length, bool deletion);
    void Settle() const;
    // Puts a filled document in the text's place.
    void Adopt(long document, const std::vector<long>& marks);

    struct PendingChange
    {
        int first;
        int end;
        int oldCount;
        bool active;
    };
    TMemo& memo_;
    mutable PendingChange pending_{};
};

class TMemo : public QsciScintilla
{
    Q_OBJECT

public:
    explicit TMemo(QWidget* parent = nullptr);

    TStrings* const Lines;

    // Lines longer than this many bytes are kept out of view (longlines.cpp).
    static constexpr long LongestShownLine = 1 << 16;
    bool LineShown(int line) const;
    bool NoLineShown() const;
    int FirstShownLine() const;
    int LastShownLine() const;
    // The note shown for the hidden lines after `line`; empty for none.
    std::string NoteUnder(int line) const;

public slots:
    // The context menu's paste too.
    void paste() override;

signals:
    // Any change of the text, typed or loaded.
    void Changed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    friend class TStrings;
    void OnModified(long position, int modificationType, long length);
    // Hides the long lines of a new text; `marks` are positions of which
    // every long line holds one.
    void HideLongLines(const std::vector<long>& marks);
    // Lines [first, last] after an edit: long ones hidden, short ones shown.
    void CheckLines(int first, int last);
    void NoteHiddenLines(int first, int last);
    void KeepFirstLineOut();
    bool SelectHiddenLines(bool backwards);
    bool KeepCaretOut(const QKeyEvent& event);
    bool PasteLongText();

    TStrings lines_;
    bool checkQueued_ = false;
    int checkFirst_ = 0;
    int checkLast_ = 0;
};

class TEdit : public QLineEdit
{
    Q_OBJECT

public:
    using QLineEdit::QLineEdit;

    AnsiString Text() const;
    void SetText(const AnsiString& text);
};

// The open-file dialog: a component of its form with nothing to show until run.
class TOpenDialog : public QWidget
{
    Q_OBJECT

public:
    explicit TOpenDialog(QWidget* parent = nullptr);

    // Runs the dialog modally; true when the user chose a file.
    bool Execute();
    // The chosen file's full path.
    const AnsiString& FileName() const { return fileName_; }

private:
    AnsiString fileName_;
};
