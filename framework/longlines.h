// Lines too long to lay out. Scintilla lays a line out whole for every paint
// that shows it and every caret move into it, about half a microsecond a byte
// through Qt's text layout: 47 s for a line of 100 MB. Such lines stay in the
// text byte for byte but out of view: hidden, with a note under the line
// before; a first line, which Scintilla never hides, scrolled out; and the
// caret and the pointer kept from them.
#pragma once

#include "loadtap.h"

#include <QObject>
#include <Qsci/qsciscintilla.h>

#include <functional>
#include <string_view>
#include <vector>

class LongLines : public QObject
{
    Q_OBJECT

public:
    // Lines longer than this many bytes are kept out of view.
    static constexpr long kLongest = 1 << 16;

    // Keeps the caret, the pointer, the paints and the input method of
    // `editor` out of its long lines from now on. `settle` has the changes
    // made so far told to `Changed`.
    LongLines(QsciScintilla& editor, std::function<void()> settle);

    // Finds, in a text given piece by piece, positions of which every line
    // longer than kLongest holds one, CR breaks included.
    class Marker
    {
    public:
        void Take(std::string_view piece);
        const std::vector<long>& Marks() const { return marks_; }

    private:
        long position_ = 0;
        long next_ = kLongest / 2;
        std::vector<long> marks_;
    };

    // The editor holds a new text, whose long lines each hold one of `marks`.
    void NewText(const std::vector<long>& marks);
    // The text is about to change; the lines it touches are looked at
    // before the next paint, once told to `Changed`.
    void Changing();
    void Changed(const LinesChange& change);
    // Pastes `bytes` where they hold a long line, hiding it before the caret
    // is shown outside it; false where an ordinary paste will do.
    bool Paste(const QByteArray& bytes, bool rectangular);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    long LineBytes(int line) const;
    int LineCount() const;
    int LineOf(long position) const;
    bool LineShown(int line) const;
    int FirstShownLine() const;
    int LastShownLine() const;
    bool NoLineShown() const;
    void CheckLines(int first, int last);
    void NoteHiddenLines(int first, int last);
    void KeepFirstLineOut();
    bool PaintNotesOnly();
    bool KeepPointerOnShownRows(QEvent* event);
    bool AnswerInputMethod(QEvent* event);
    bool SelectHiddenLines(bool backwards);
    bool KeepCaretOut(const QKeyEvent& event);

    QsciScintilla& editor_;
    QWidget* const viewport_;
    const std::function<void()> settle_;
    bool checkQueued_ = false;
    bool checkAny_ = false;
    int checkFirst_ = 0;
    int checkLast_ = 0;
};
