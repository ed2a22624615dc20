#pragma once

#include "reports/span_report.h"

#include <QByteArray>
#include <QDialog>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class QDateTimeEdit;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace tarnveil {

class SpanReportJob;

// Files -> Silence Report...: the dead air of a span of days and the loudness
// of each log in it, from the stored profiles, measuring the missing ones in
// the background. Exists once, modeless, without an owner. GUI thread only.
class frmSilenceReport : public QDialog {
    Q_OBJECT

public:
    // Plays listed log `name` from `positionMs`.
    using PlayAt = std::function<void(const QByteArray& name, int32_t positionMs)>;

    // Opens the window (or brings the open one to the front) over the log
    // folder `logFolder`, which the operator knows as `place`, and whose logs
    // `catalog` knows.
    static frmSilenceReport* showWindow(std::shared_ptr<LogCatalog> catalog, const std::filesystem::path& logFolder,
                                        const std::filesystem::path& curFile, const std::string& place, PlayAt playAt);
    static frmSilenceReport* instance();

    QDateTimeEdit* txtFrom = nullptr;
    QDateTimeEdit* txtTo = nullptr;
    QDoubleSpinBox* txtThreshold = nullptr;
    QDoubleSpinBox* txtMinimum = nullptr;
    QPushButton* cmdReport = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdExport = nullptr;
    QProgressBar* prgMeasuring = nullptr;
    QLabel* lblStatus = nullptr;
    QTableWidget* lstSilences = nullptr;
    QTableWidget* lstLogs = nullptr;

    void cmdReport_Click();
    void cmdCancel_Click();
    void cmdExport_Click();

signals:
    // The report has been shown (or has failed).
    void reported();

private:
    frmSilenceReport();

    void showReport(std::shared_ptr<const SpanReport> report);
    void stopJob(const QString& status);
    void playStretch(int row);

    std::shared_ptr<LogCatalog> catalog_;
    std::filesystem::path logFolder_;
    std::filesystem::path curFile_;
    std::string place_;
    PlayAt playAt_;
    std::unique_ptr<SpanReportJob> job_;
    std::shared_ptr<const SpanReport> report_;
    std::vector<SilentStretch> silences_;
};

} // namespace tarnveil
