#include "loglist/widest_name_delegate.h"

#include <QFontMetrics>
#include <QHash>

#include <array>

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

int widestNameWidth(const QFontMetrics& metrics, const QList<QString>& names)
{
    std::array<int, 128> ascii{};
    for (size_t c = 0; c < ascii.size(); ++c)
        ascii[c] = metrics.horizontalAdvance(QChar(static_cast<char16_t>(c)));
    QHash<char16_t, int> other;

    int widestSum = 0;
    const QString* widestName = nullptr;
    for (const QString& name : names) {
        int sum = 0;
        for (const QChar c : name) {
            const char16_t code = c.unicode();
            if (code < ascii.size()) {
                sum += ascii[code];
            } else {
                auto found = other.find(code);
                if (found == other.end())
                    found = other.insert(code, metrics.horizontalAdvance(c));
                sum += *found;
            }
        }
        if (sum > widestSum || widestName == nullptr) {
            widestSum = sum;
            widestName = &name;
        }
    }
    if (widestName == nullptr)
        return 0;
    return std::max(widestSum, metrics.horizontalAdvance(*widestName));
}

} // namespace tarnveil
