#include "memomime.h"

namespace {

// Where a text box's bytes go as they are, invalid UTF-8 and all.
const QString kBytes = QStringLiteral("application/x-vost-text");
const QString kPlain = QStringLiteral("text/plain");
// A span this long or shorter outlives a change of its text.
constexpr std::int64_t kKept = std::int64_t{1} << 20;

} // namespace

MemoMime::MemoMime(std::string bytes) : bytes_(std::move(bytes)) {}

MemoMime::MemoMime(const QObject& source, const TextStore& text, std::int64_t position,
                   std::int64_t length)
    : source_(&source), text_(&text), position_(position), length_(length)
{
}

void MemoMime::Keep()
{
    if (text_ && source_ && length_ <= kKept)
        bytes_ = text_->Text(position_, length_);
    text_ = nullptr;
}

std::string MemoMime::Bytes() const
{
    return text_ && source_ ? text_->Text(position_, length_) : bytes_;
}

QStringList MemoMime::formats() const
{
    return {kBytes, kPlain};
}

bool MemoMime::hasFormat(const QString& format) const
{
    return format == kBytes || format == kPlain;
}

QVariant MemoMime::retrieveData(const QString& format, QMetaType type) const
{
    const std::string bytes = Bytes();
    if (format == kBytes)
        return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (format == kPlain) {
        const QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        if (type.id() == QMetaType::QByteArray)
            return text.toUtf8();
        return text;
    }
    return {};
}

std::string BytesOf(const QMimeData& data)
{
    if (data.hasFormat(kBytes))
        return data.data(kBytes).toStdString();
    return data.text().toUtf8().toStdString();
}
