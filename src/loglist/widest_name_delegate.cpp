#include "loglist/widest_name_delegate.h"

#include <QFile>
#include <QFontMetrics>

#include <algorithm>

namespace tarnveil {

QSize WidestNameDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const int own = option.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    // Room for the marks too, which any row may come to carry.
    const int widest = widest_ + option.fontMetrics.horizontalAdvance(PlayingMark.toString())
                       + option.fontMetrics.horizontalAdvance(RecordingMark.toString());
    if (widest > own)
        size.setWidth(size.width() + widest - own);
    return size;
}

void WidestNameDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (playing_.isEmpty() && recording_.isEmpty())
        return;
    const QByteArray path = index.data(Qt::UserRole).toByteArray();
    if (!playing_.isEmpty() && path == playing_) {
        option->font.setBold(true);
        option->text.prepend(PlayingMark);
    }
    if (!recording_.isEmpty() && path == recording_)
        option->text.append(RecordingMark);
}

WidestName::WidestName(const QFontMetrics& metrics) : metrics_(metrics)
{
    for (size_t c = 0; c < ascii_.size(); ++c)
        ascii_[c] = metrics.horizontalAdvance(QChar(static_cast<char16_t>(c)));
}

void WidestName::add(const std::string& name)
{
    int sum = 0;
    for (const char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= ascii_.size()) {
            // Beyond ASCII the bytes are decoded, and each character counted.
            sum = advance(QFile::decodeName(QByteArray::fromStdString(name)));
            break;
        }
        sum += ascii_[code];
    }
    if (sum > widestSum_ || widest_ == nullptr) {
        widestSum_ = sum;
        widest_ = &name;
    }
}

int WidestName::advance(QStringView text)
{
    int sum = 0;
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < ascii_.size()) {
            sum += ascii_[code];
        } else {
            auto found = other_.find(code);
            if (found == other_.end())
                found = other_.insert(code, metrics_.horizontalAdvance(c));
            sum += *found;
        }
    }
    return sum;
}

int WidestName::width() const
{
    if (widest_ == nullptr)
        return 0;
    return std::max(widestSum_, metrics_.horizontalAdvance(QFile::decodeName(QByteArray::fromStdString(*widest_))));
}

} // namespace tarnveil
