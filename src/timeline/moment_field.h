#pragma once

#include <QDateTime>
#include <QLineEdit>

namespace tarnveil {

// A local date and time typed in one go: "2026-12-07 14:32:00", digits only
// ("20261207143200"), or a time alone ("14:32" or "14:32:00") for today.
// GUI thread only.
class MomentField : public QLineEdit {
    Q_OBJECT

public:
    // `withMilliseconds`: shown as "yyyy-MM-dd HH:mm:ss.zzz", else "yyyy-MM-dd HH:mm:ss".
    MomentField(bool withMilliseconds, QWidget* parent);

    // The form the field asks for, in the operator's words.
    static QString form();

    void setDateTime(const QDateTime& moment);
    // Invalid when the text is no date and time.
    QDateTime dateTime() const;
    // Tells the operator in the error window that the text is no date and
    // time, and how to type one; the text stays as it is.
    void reportUnreadable() const;

private:
    QString format_;
};

} // namespace tarnveil
