// The text box: a plain text editor over the text store. It reads only the
// lines on screen, and of a long line only the part on screen, so that a
// text of any size, and a line of any length, opens, scrolls and edits at once.
#pragma once

#include "caretmoves.h"
#include "linecolumns.h"
#include "linelayout.h"
#include "lines.h"
#include "textstore.h"

#include <QAbstractScrollArea>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class MemoMime;

class TMemo : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // Pixels between the viewport's left edge and the first column.
    static constexpr int kMargin = 3;

    explicit TMemo(QWidget* parent = nullptr);
    ~TMemo() override;

    TStrings* const Lines;

    // The selection, in bytes of the text: where it starts (the caret, where
    // it is empty) and how long it is. Setting the start empties it.
    std::int64_t SelStart() const;
    void SetSelStart(std::int64_t position);
    std::int64_t SelLength() const;
    void SetSelLength(std::int64_t length);
    std::string SelText() const;
    // The selection replaced by `text`, as one step to undo; the caret after it.
    void SetSelText(std::string_view text);
    void SelectAll();
    // The selection's ends: where it began, and where the caret is.
    std::int64_t Anchor() const { return anchor_; }
    std::int64_t Caret() const { return caret_; }
    // Selects from `anchor` to `caret`, scrolled to show the caret, which
    // shows and blinks anew; the selection is offered as the X selection.
    void Select(std::int64_t anchor, std::int64_t caret);

    // Whether the text differs from the one last opened or saved.
    bool Modified() const { return text_.Modified(); }

    bool CanUndo() const;
    bool CanRedo() const;
    void Undo();
    void Redo();

    void CutToClipboard();
    void CopyToClipboard();
    void PasteFromClipboard();
    void ClearSelection();

    // The caret position nearest a point of the viewport; where a caret at
    // `position` shows in it; scrolled so that `position` shows.
    std::int64_t PositionAt(QPointF point) const;
    QRect RectAt(std::int64_t position) const;
    void ShowPosition(std::int64_t position);

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // What an edit continues: typed keys and erasing keys each make one step
    // to undo as long as nothing else comes between.
    enum class Run
    {
        None,
        Typing,
        Erasing,
        ErasingForward
    };
    enum class Motion
    {
        Left,
        Right,
        WordLeft,
        WordRight,
        Up,
        Down,
        PageUp,
        PageDown,
        LineStart,
        LineEnd,
        TextStart,
        TextEnd
    };

    // Every change of the text, whoever made it.
    void TextChanged(LinesChange change);
    // Bytes [position, position + length) become `bytes`, the caret after them.
    void Edit(std::int64_t position, std::int64_t length, std::string_view bytes, Run run);
    // What the text box offers of its text is kept before the text changes.
    void BeforeChange();
    void EndRun();
    // An undo or a redo, the caret after what it put back.
    void Step(std::optional<TextStore::Span> (TextStore::*step)());

    // What a key does, if anything.
    std::function<void()> ActionFor(const QKeyEvent& event);
    void Move(Motion motion, bool select);
    void Type(std::string_view bytes);
    void Erase(bool forward, bool word);
    std::string LineBreak() const;

    void ShowCaret();
    void OfferSelection();
    void PasteSelectionAt(QPointF point);
    void StartDrag();

    std::int64_t SelEnd() const { return std::max(anchor_, caret_); }
    std::int64_t ColumnOf(std::int64_t position) const;
    // The boundary in `line` nearest `column`, which may fall within a cell.
    std::int64_t Nearest(std::int64_t line, double column) const;
    std::int64_t Rows() const;
    std::int64_t Columns() const;
    void Restyle();
    void UpdateBars();
    void Paint();

    TextStore text_;
    TStrings lines_;
    mutable LineColumns columns_;
    CaretMoves moves_;
    LineLayout layout_;
    LineStyle style_;

    std::int64_t anchor_ = 0;          // where the selection began
    std::int64_t caret_ = 0;           // where it ends, and the caret is
    std::optional<std::int64_t> goal_; // the column Up and Down keep
    Run run_ = Run::None;
    bool editing_ = false; // the text changes by the text box's own hand

    std::int64_t firstLine_ = 0;   // the top line on screen
    std::int64_t firstColumn_ = 0; // the column at the left edge
    std::int64_t widest_ = 0;      // the most columns a line seen may take
    std::int64_t lastLine_ = 0;    // the most the scroll bars reach
    std::int64_t lastColumn_ = 0;
    bool syncing_ = false; // the scroll bars are set from the text box
    int wheelLines_ = 0;   // in 120ths of a line, as the wheel turns
    int wheelColumns_ = 0;

    bool caretShown_ = true;
    QTimer blink_;
    QString preedit_;

    bool selecting_ = false; // the left button is down, selecting
    bool maybeDrag_ = false; // pressed in the selection: a drag, or a click
    QPointF pressedAt_;
    QPointF mouse_;
    QTimer autoScroll_;
    std::optional<std::int64_t> dropAt_;

    QPointer<MemoMime> offered_; // the X selection, while it is ours
    QPointer<MemoMime> dragged_;
};
