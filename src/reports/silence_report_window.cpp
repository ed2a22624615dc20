#include "reports/silence_report_window.h"

#include "loudness/silence_defaults.h"
#include "platform/failure.h"
#include "reports/report_csv.h"
#include "reports/span_report_job.h"
#include "windows/error_window.h"

#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace tarnveil {

namespace {

// Playback of a stretch starts this long before it, so that what went before
// the dead air is heard.
constexpr int64_t LeadInMs = 2000;

QPointer<frmSilenceReport>& openWindow()
{
    static QPointer<frmSilenceReport> window;
    return window;
}

QDateTimeEdit* momentEdit(QWidget* parent, const char* name)
{
    auto* edit = new QDateTimeEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    edit->setCalendarPopup(true);
    return edit;
}

QTableWidget* table(QWidget* parent, const char* name, const QStringList& headers)
{
    auto* list = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setHorizontalHeaderLabels(headers);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setStretchLastSection(true);
    return list;
}

void setRow(QTableWidget& list, int row, const QStringList& cells)
{
    for (int column = 0; column < cells.size(); ++column)
        list.setItem(row, column, new QTableWidgetItem(cells[column]));
}

QString figure(double value)
{
    return std::isfinite(value) ? QString::number(value, 'f', 1) : QStringLiteral("silent");
}

QString lengthText(int64_t ms)
{
    const int64_t seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000 / 100);
}

} // namespace

frmSilenceReport::frmSilenceReport() : QDialog(nullptr)
{
    setObjectName(QStringLiteral("frmSilenceReport"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Silence Report"));
    setModal(false);

    const QDateTime now = QDateTime::currentDateTime();
    txtFrom = momentEdit(this, "txtFrom");
    txtFrom->setDateTime(now.addDays(-1));
    txtTo = momentEdit(this, "txtTo");
    txtTo->setDateTime(now);
    txtThreshold = new QDoubleSpinBox(this);
    txtThreshold->setObjectName(QStringLiteral("txtThreshold"));
    txtThreshold->setRange(-120.0, 0.0);
    txtThreshold->setDecimals(1);
    txtThreshold->setSuffix(QStringLiteral(" dBFS"));
    txtThreshold->setValue(DefaultSilenceThresholdDbfs);
    txtMinimum = new QDoubleSpinBox(this);
    txtMinimum->setObjectName(QStringLiteral("txtMinimum"));
    txtMinimum->setRange(0.1, 86400.0);
    txtMinimum->setDecimals(1);
    txtMinimum->setSuffix(QStringLiteral(" s"));
    txtMinimum->setValue(static_cast<double>(DefaultSilenceMinimumMs) / 1000);

    cmdReport = new QPushButton(QStringLiteral("Report"), this);
    cmdReport->setObjectName(QStringLiteral("cmdReport"));
    cmdReport->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setEnabled(false);
    cmdExport = new QPushButton(QStringLiteral("Export..."), this);
    cmdExport->setObjectName(QStringLiteral("cmdExport"));
    cmdExport->setEnabled(false);
    prgMeasuring = new QProgressBar(this);
    prgMeasuring->setObjectName(QStringLiteral("prgMeasuring"));
    prgMeasuring->setRange(0, 1);
    prgMeasuring->setValue(0);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));

    lstSilences = table(this, "lstSilences", {QStringLiteral("Start"), QStringLiteral("Length"), QStringLiteral("Log")});
    lstLogs = table(this, "lstLogs",
                    {QStringLiteral("Log"), QStringLiteral("Start"), QStringLiteral("Integrated (LUFS)"),
                     QStringLiteral("Range (LU)"), QStringLiteral("Max. sample peak (dBFS)")});

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("From"), txtFrom);
    form->addRow(QStringLiteral("To"), txtTo);
    form->addRow(QStringLiteral("Threshold (sample peak)"), txtThreshold);
    form->addRow(QStringLiteral("Minimum length"), txtMinimum);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdReport);
    buttons->addWidget(cmdCancel);
    buttons->addWidget(prgMeasuring, 1);
    buttons->addWidget(cmdExport);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons);
    column->addWidget(lblStatus);
    column->addWidget(new QLabel(QStringLiteral("Silent stretches (double-click plays from 2 s before)"), this));
    column->addWidget(lstSilences, 1);
    column->addWidget(new QLabel(QStringLiteral("Logs"), this));
    column->addWidget(lstLogs, 1);
    resize(720, 560);

    connect(cmdReport, &QPushButton::clicked, this, &frmSilenceReport::cmdReport_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSilenceReport::cmdCancel_Click);
    connect(cmdExport, &QPushButton::clicked, this, &frmSilenceReport::cmdExport_Click);
    connect(lstSilences, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { playStretch(row); });
}

frmSilenceReport* frmSilenceReport::showWindow(std::shared_ptr<LogCatalog> catalog,
                                               const std::filesystem::path& logFolder,
                                               const std::filesystem::path& curFile, const std::string& place,
                                               PlayAt playAt)
{
    QPointer<frmSilenceReport>& window = openWindow();
    if (!window)
        window = new frmSilenceReport;
    window->catalog_ = std::move(catalog);
    window->logFolder_ = logFolder;
    window->curFile_ = curFile;
    window->place_ = place;
    window->playAt_ = std::move(playAt);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

frmSilenceReport* frmSilenceReport::instance()
{
    return openWindow();
}

void frmSilenceReport::cmdReport_Click()
{
    const int64_t fromMs = txtFrom->dateTime().toMSecsSinceEpoch();
    const int64_t toMs = txtTo->dateTime().toMSecsSinceEpoch();
    if (toMs <= fromMs) {
        lblStatus->setText(QStringLiteral("To must come after From."));
        return;
    }
    job_ = std::make_unique<SpanReportJob>(catalog_, logFolder_, curFile_, place_, fromMs, toMs);
    connect(job_.get(), &SpanReportJob::progressed, this, [this](int done, int total) {
        prgMeasuring->setRange(0, std::max(1, total));
        prgMeasuring->setValue(done);
        lblStatus->setText(QStringLiteral("Measuring log %1 of %2...").arg(std::min(done + 1, total)).arg(total));
    });
    connect(job_.get(), &SpanReportJob::finished, this, &frmSilenceReport::showReport);
    connect(job_.get(), &SpanReportJob::failed, this, [this](const QString& message) {
        stopJob(message);
        frmError::report(message);
        emit reported();
    });
    cmdReport->setEnabled(false);
    cmdCancel->setEnabled(true);
    prgMeasuring->setRange(0, 0);
    lblStatus->setText(QStringLiteral("Looking at the logs..."));
}

void frmSilenceReport::cmdCancel_Click()
{
    stopJob(QStringLiteral("Cancelled."));
}

void frmSilenceReport::stopJob(const QString& status)
{
    // The thread may be stuck on the drive: it is left to end on its own.
    if (job_) {
        job_->cancel();
        job_.release()->deleteLater();
    }
    cmdReport->setEnabled(true);
    cmdCancel->setEnabled(false);
    prgMeasuring->setRange(0, 1);
    prgMeasuring->setValue(0);
    lblStatus->setText(status);
}

void frmSilenceReport::showReport(std::shared_ptr<const SpanReport> report)
{
    report_ = std::move(report);
    silences_ = silencesInSpan(*report_, txtThreshold->value(), std::llround(txtMinimum->value() * 1000));

    lstSilences->setRowCount(static_cast<int>(silences_.size()));
    for (int row = 0; row < lstSilences->rowCount(); ++row) {
        const SilentStretch& stretch = silences_[static_cast<size_t>(row)];
        QString shown = QString::fromUtf8(stretch.log);
        for (const ReportedLog& reported : report_->logs)
            if (reported.log.span.name == stretch.log)
                shown = reported.shown;
        setRow(*lstSilences, row, {reportTime(stretch.startMs), lengthText(stretch.lengthMs()), shown});
    }
    int unreadable = 0;
    lstLogs->setRowCount(static_cast<int>(report_->logs.size()));
    for (int row = 0; row < lstLogs->rowCount(); ++row) {
        const ReportedLog& reported = report_->logs[static_cast<size_t>(row)];
        const LoudnessProfile* profile = reported.log.profile.get();
        if (profile != nullptr) {
            setRow(*lstLogs, row,
                   {reported.shown, reportTime(reported.log.span.startMs), figure(profile->integrated),
                    QString::number(profile->range, 'f', 1), figure(profile->maxPeak)});
        } else {
            ++unreadable;
            setRow(*lstLogs, row,
                   {reported.shown, reportTime(reported.log.span.startMs), QStringLiteral("cannot be read"),
                    QString(), reported.failure});
        }
    }
    lstSilences->resizeColumnsToContents();
    lstLogs->resizeColumnsToContents();
    QString status = QStringLiteral("%1 silent stretches in %2 logs.").arg(silences_.size()).arg(report_->logs.size());
    if (unreadable > 0)
        status += QStringLiteral(" %1 logs cannot be read.").arg(unreadable);
    stopJob(status);
    cmdExport->setEnabled(true);
    emit reported();
}

void frmSilenceReport::playStretch(int row)
{
    if (!report_ || row < 0 || row >= static_cast<int>(silences_.size()) || !playAt_)
        return;
    const SilentStretch& stretch = silences_[static_cast<size_t>(row)];
    for (const ReportedLog& reported : report_->logs) {
        if (reported.log.span.name == stretch.log) {
            const int64_t offset = std::max<int64_t>(0, stretch.startMs - reported.log.span.startMs - LeadInMs);
            playAt_(stretch.log, static_cast<int32_t>(std::min<int64_t>(offset, INT32_MAX)));
            return;
        }
    }
}

void frmSilenceReport::cmdExport_Click()
{
    if (!report_)
        return;
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export Silence Report"),
                                                      QStringLiteral("silence-report.csv"),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (file.isEmpty())
        return;
    // Both lists in one file, each with its own header, a blank line between.
    const QString csv = silenceCsv(*report_, silences_) + QLatin1Char('\n') + loudnessCsv(*report_);
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(csv.toUtf8()) < 0 || !out.commit())
        frmError::report(QString::fromStdString(
            Failure(FailureCode::PathFileAccessError, file.toStdString() + ": " + out.errorString().toStdString())
                .message()));
}

} // namespace tarnveil
