#include "reports/report_csv.h"

#include <QDateTime>

#include <cmath>

namespace tarnveil {

namespace {

QString field(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString decibels(double value)
{
    return std::isfinite(value) ? QString::number(value, 'f', 1) : QStringLiteral("-inf");
}

QString shownName(const SpanReport& report, const QByteArray& name)
{
    for (const ReportedLog& reported : report.logs)
        if (reported.log.span.name == name)
            return reported.shown;
    return QString::fromUtf8(name);
}

} // namespace

QString reportTime(int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString silenceCsv(const SpanReport& report, const std::vector<SilentStretch>& silences)
{
    QString csv = QStringLiteral("start,end,length_s,log\n");
    for (const SilentStretch& stretch : silences)
        csv += QStringLiteral("%1,%2,%3,%4\n")
                   .arg(reportTime(stretch.startMs), reportTime(stretch.endMs),
                        QString::number(static_cast<double>(stretch.lengthMs()) / 1000, 'f', 3),
                        field(shownName(report, stretch.log)));
    return csv;
}

QString loudnessCsv(const SpanReport& report)
{
    QString csv = QStringLiteral("log,start,integrated_lufs,range_lu,max_sample_peak_dbfs\n");
    for (const ReportedLog& reported : report.logs) {
        const LoudnessProfile* profile = reported.log.profile.get();
        csv += QStringLiteral("%1,%2,%3,%4,%5\n")
                   .arg(field(reported.shown), reportTime(reported.log.span.startMs),
                        profile ? decibels(profile->integrated) : QString(),
                        profile ? QString::number(profile->range, 'f', 1) : QString(),
                        profile ? decibels(profile->maxPeak) : QString());
    }
    return csv;
}

} // namespace tarnveil
