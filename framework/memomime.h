// Text the text box offers to others (the clipboard, the X selection, a
// drag): its bytes as they are, for a text box, and as plain text. An offer
// of a span of the text reads it only when something asks, so that selecting
// a gigabyte costs nothing until something pastes it.
#pragma once

#include "textstore.h"

#include <QMimeData>
#include <QPointer>

#include <string>

class MemoMime : public QMimeData
{
    Q_OBJECT

public:
    // The bytes themselves.
    explicit MemoMime(std::string bytes);
    // Bytes [position, position + length) of `text`, which lives as long as
    // `source`, as they are when asked for.
    MemoMime(const QObject& source, const TextStore& text, std::int64_t position,
             std::int64_t length);

    // Reads another span of the same text from now on.
    void Reach(std::int64_t position, std::int64_t length)
    {
        position_ = position, length_ = length;
    }
    // The text is about to change: a small span is kept as it is, a larger
    // one offered no more.
    void Keep();
    // The text changed beyond it: nothing is offered any more.
    void Forget() { text_ = nullptr, bytes_.clear(); }

    // The text box whose text it still reads, if any; the span it reads.
    const QObject* Source() const { return text_ ? source_.data() : nullptr; }
    std::int64_t Position() const { return position_; }
    std::int64_t Length() const { return length_; }

    QStringList formats() const override;
    bool hasFormat(const QString& format) const override;

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override;

private:
    std::string Bytes() const;

    QPointer<const QObject> source_;
    const TextStore* text_ = nullptr;
    std::int64_t position_ = 0;
    std::int64_t length_ = 0;
    std::string bytes_;
};

// The bytes a paste or a drop brings: a text box's as they are, other text
// as UTF-8.
std::string BytesOf(const QMimeData& data);
