#include "memo.h"

#include "report.h"

#include <QApplication>
#include <QClipboard>

TMemo::TMemo(QWidget* parent) : QAbstractScrollArea(parent), Lines(&lines_), lines_(text_, *this)
{
    text_.SetListener([this](const LinesChange& change) { TextChanged(change); });
}

TMemo::~TMemo() = default;

void TMemo::TextChanged(LinesChange change)
{
    if (change.loaded.has_value() || caret_ > text_.Length() || anchor_ > text_.Length())
        anchor_ = caret_ = 0;
    lines_.Changed(std::move(change));
    NoteEdit();
    viewport()->update();
}

std::int64_t TMemo::SelStart() const
{
    return std::min(anchor_, caret_);
}

void TMemo::SetSelStart(std::int64_t position)
{
    anchor_ = caret_ = std::clamp<std::int64_t>(position, 0, text_.Length());
}

std::int64_t TMemo::SelLength() const
{
    return std::abs(caret_ - anchor_);
}

void TMemo::SetSelLength(std::int64_t length)
{
    anchor_ = SelStart();
    caret_ = std::clamp<std::int64_t>(anchor_ + length, anchor_, text_.Length());
}

std::string TMemo::SelText() const
{
    return text_.Text(SelStart(), SelLength());
}

void TMemo::SetSelText(std::string_view text)
{
    const std::int64_t start = SelStart();
    text_.Replace(start, SelLength(), text);
    anchor_ = caret_ = start + static_cast<std::int64_t>(text.size());
}

void TMemo::SelectAll()
{
    anchor_ = 0;
    caret_ = text_.Length();
}

bool TMemo::CanUndo() const
{
    return text_.CanUndo();
}

void TMemo::Undo()
{
    if (const auto span = text_.Undo())
        anchor_ = caret_ = span->position + span->length;
}

void TMemo::Redo()
{
    if (const auto span = text_.Redo())
        anchor_ = caret_ = span->position + span->length;
}

void TMemo::CutToClipboard()
{
    CopyToClipboard();
    SetSelText({});
}

void TMemo::CopyToClipboard()
{
    const std::string text = SelText();
    QApplication::clipboard()->setText(
        QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

void TMemo::PasteFromClipboard()
{
    SetSelText(QApplication::clipboard()->text().toLocal8Bit().toStdString());
}
