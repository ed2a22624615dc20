#include "timeline/moment_field.h"

namespace tarnveil {

MomentField::MomentField(bool withMilliseconds, QWidget* parent)
    : QLineEdit(parent),
      format_(withMilliseconds ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz") : QStringLiteral("yyyy-MM-dd HH:mm:ss"))
{
    setInputMask(withMilliseconds ? QStringLiteral("9999-99-99 99:99:99.999") : QStringLiteral("9999-99-99 99:99:99"));
}

void MomentField::setDateTime(const QDateTime& moment)
{
    setText(moment.toLocalTime().toString(format_));
}

QDateTime MomentField::dateTime() const
{
    QDateTime moment = QDateTime::fromString(text(), format_);
    moment.setTimeSpec(Qt::LocalTime);
    return moment;
}

} // namespace tarnveil
