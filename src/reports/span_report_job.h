#pragma once

#include "reports/span_report.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <string>

class QTimer;

namespace tarnveil {

// One report over a span, gathered on a thread of its own at the lowest
// priority, so that playback goes on undisturbed. A drive that leaves a read
// unanswered past the deadline ends the job with a failure; Cancel and
// destroying the job wait for nothing. GUI thread only.
class SpanReportJob : public QObject {
    Q_OBJECT

public:
    // `place` names the log folder as the operator knows it ("L:\logger\logs").
    SpanReportJob(std::shared_ptr<LogCatalog> catalog, const std::filesystem::path& logFolder,
                  const std::filesystem::path& curFile, std::string place, int64_t fromMs, int64_t toMs,
                  QObject* parent = nullptr);
    ~SpanReportJob() override;

    void cancel();

signals:
    void progressed(int done, int total);
    void finished(std::shared_ptr<const SpanReport> report);
    // `message` is the failure's number and description.
    void failed(const QString& message);

private:
    struct Shared;

    void arrived();
    void watchDeadline();
    void abandon();

    std::shared_ptr<Shared> shared_;
    std::string place_;
    QTimer* deadlineTimer_;
};

} // namespace tarnveil
