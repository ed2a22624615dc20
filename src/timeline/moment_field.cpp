#include "timeline/moment_field.h"

#include "platform/failure.h"
#include "windows/error_window.h"

namespace tarnveil {

MomentField::MomentField(bool withMilliseconds, QWidget* parent)
    : QLineEdit(parent),
      format_(withMilliseconds ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz") : QStringLiteral("yyyy-MM-dd HH:mm:ss"))
{
    setPlaceholderText(form());
}

QString MomentField::form()
{
    return QStringLiteral("YYYY-MM-DD hh:mm:ss");
}

void MomentField::setDateTime(const QDateTime& moment)
{
    setText(moment.toLocalTime().toString(format_));
}

QDateTime MomentField::dateTime() const
{
    const QString typed = text().trimmed();
    for (const QString& format : {QStringLiteral("yyyy-MM-dd H:mm:ss.zzz"), QStringLiteral("yyyy-MM-dd H:mm:ss"),
                                  QStringLiteral("yyyy-MM-dd H:mm"), QStringLiteral("yyyyMMddHHmmss")}) {
        QDateTime moment = QDateTime::fromString(typed, format);
        if (moment.isValid()) {
            moment.setTimeSpec(Qt::LocalTime);
            return moment;
        }
    }
    for (const QString& format : {QStringLiteral("H:mm:ss.zzz"), QStringLiteral("H:mm:ss"), QStringLiteral("H:mm")}) {
        const QTime time = QTime::fromString(typed, format);
        if (time.isValid())
            return QDateTime(QDate::currentDate(), time, Qt::LocalTime);
    }
    return {};
}

void MomentField::reportUnreadable() const
{
    const QString detail = u'"' + text() + QStringLiteral("\". Type the date and time as ") + form()
                           + QStringLiteral(", or a time alone for today.");
    frmError::report(QString::fromStdString(Failure(FailureCode::NotAMoment, detail.toStdString()).message()));
}

} // namespace tarnveil
