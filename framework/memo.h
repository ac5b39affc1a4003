// The text box: a plain text editor over the text store, laying out only
// what is on screen, so that a text of any size opens and edits at once.
#pragma once

#include "lines.h"
#include "textstore.h"

#include <QAbstractScrollArea>

#include <string>
#include <string_view>

class TMemo : public QAbstractScrollArea
{
    Q_OBJECT

public:
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

    // Whether the text differs from the one last opened or saved.
    bool Modified() const { return text_.Modified(); }

    bool CanUndo() const;
    void Undo();
    void Redo();

    void CutToClipboard();
    void CopyToClipboard();
    void PasteFromClipboard();

private:
    // Every change of the text, whoever made it.
    void TextChanged(LinesChange change);

    TextStore text_;
    TStrings lines_;
    std::int64_t anchor_ = 0; // where the selection began
    std::int64_t caret_ = 0;  // where it ends, and the caret is
};
