#pragma once

#include <QDateTime>
#include <QLineEdit>

namespace tarnveil {

// A local date and time typed in one go, separators and all or digits only
// ("2026-12-07 14:32:00" or "20261207143200"): a masked line, since a date-time
// spin box takes a typed separator as a jump to the section after next.
// GUI thread only.
class MomentField : public QLineEdit {
    Q_OBJECT

public:
    // `withMilliseconds`: "yyyy-MM-dd HH:mm:ss.zzz", else "yyyy-MM-dd HH:mm:ss".
    MomentField(bool withMilliseconds, QWidget* parent);

    void setDateTime(const QDateTime& moment);
    // Invalid when the text is no date and time.
    QDateTime dateTime() const;

private:
    QString format_;
};

} // namespace tarnveil
