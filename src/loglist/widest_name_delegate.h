#pragma once

#include <QHash>
#include <QStyledItemDelegate>

#include <array>
#include <string>

class QFontMetrics;

namespace tarnveil {

// With uniform item sizes a list view asks one item for the size of all. This
// delegate answers with room for the widest name, so that the list lays out
// a hundred thousand names at the cost of one and still scrolls far enough
// to show each of them whole. It also marks the log playing (bold, after a
// play mark) and the log being recorded, whichever row is selected; a row's
// text stays its name.
class WidestNameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // GUI thread only.
    void setWidest(int textWidth) { widest_ = textWidth; }
    int widest() const { return widest_; }
    // Paths below the log folder, as the rows hold them; empty for none.
    void setPlaying(const QByteArray& path) { playing_ = path; }
    void setRecording(const QByteArray& path) { recording_ = path; }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Public, so that what a row shows can be read without painting it.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

    static constexpr QStringView PlayingMark = u"\u25B6 ";
    static constexpr QStringView RecordingMark = u"  (recording)";

private:
    int widest_ = 0;
    QByteArray playing_;
    QByteArray recording_;
};

// The width of the widest of the names it is given, without shaping each:
// character advances are summed from a table, and the name that comes out
// widest is measured exactly. Kerning only narrows a name, so the sum is a
// safe bound for the rest.
class WidestName {
public:
    explicit WidestName(const QFontMetrics& metrics);

    // A name as the folder gave it (the local 8-bit encoding).
    void add(const std::string& name);
    int width() const;

private:
    int advance(QStringView text);

    const QFontMetrics& metrics_;
    std::array<int, 128> ascii_{};
    QHash<char16_t, int> other_;
    int widestSum_ = 0;
    const std::string* widest_ = nullptr;
};

} // namespace tarnveil
