// What a screen reader reads of the text box: its text, caret and selection,
// answered from the store a bounded part at a time, whatever the text's
// size. Offsets are bytes of the text, as far as an int reaches.
#pragma once

#include <QAccessibleWidget>

#include <cstdint>
#include <functional>
#include <utility>

class TMemo;

class MemoAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    // The most bytes one answer reads.
    static constexpr std::int64_t kMostRead = std::int64_t{1} << 16;

    explicit MemoAccessible(TMemo* memo);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text kind) const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    TMemo& Memo() const;
    // The unit of text that holds `offset`, no longer than kMostRead.
    std::pair<std::int64_t, std::int64_t> Unit(std::int64_t offset,
                                               QAccessible::TextBoundaryType boundary) const;
    // The text of the unit `unit` finds, read through the report point.
    QString Answer(const std::function<std::pair<std::int64_t, std::int64_t>()>& unit,
                   int* startOffset, int* endOffset) const;
};

// Text boxes answer screen readers through MemoAccessible from now on.
void InstallMemoAccessible();
