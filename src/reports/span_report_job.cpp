#include "reports/span_report_job.h"

#include "loudness/idle_priority.h"
#include "platform/failure.h"
#include "share/drive_lane.h"
#include "share/posted_call.h"

#include <QTimer>

#include <mutex>
#include <thread>

namespace tarnveil {

// What the gathering thread shares with the job; the thread holds a share,
// so one stuck on a dead share outlives the job safely.
struct SpanReportJob::Shared {
    MeasureControl control;
    std::mutex mutex;
    // Guarded by mutex.
    SpanReportJob* receiver = nullptr;
    int done = 0;
    int total = 0;
    std::shared_ptr<const SpanReport> report;
    QString failure;
    bool ended = false;
};

SpanReportJob::SpanReportJob(std::shared_ptr<LogCatalog> catalog, const std::filesystem::path& logFolder,
                             const std::filesystem::path& curFile, std::string place, int64_t fromMs, int64_t toMs,
                             QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>()), place_(std::move(place)), deadlineTimer_(new QTimer(this))
{
    shared_->receiver = this;
    connect(deadlineTimer_, &QTimer::timeout, this, &SpanReportJob::watchDeadline);
    deadlineTimer_->start(1000);
    std::thread([shared = shared_, catalog = std::move(catalog), logFolder, curFile, fromMs, toMs] {
        runAtIdlePriority();
        auto tell = [&shared] {
            if (SpanReportJob* receiver = shared->receiver)
                postCall(receiver, [receiver] { receiver->arrived(); });
        };
        std::shared_ptr<const SpanReport> report;
        QString failure;
        try {
            report = std::make_shared<SpanReport>(
                collectSpanReport(*catalog, logFolder, curFile, fromMs, toMs, shared->control,
                                  [&](size_t done, size_t total) {
                                      std::lock_guard lock(shared->mutex);
                                      shared->done = static_cast<int>(done);
                                      shared->total = static_cast<int>(total);
                                      tell();
                                  }));
        } catch (const std::exception& error) {
            failure = QString::fromStdString(failureFromException(error).message());
        }
        std::lock_guard lock(shared->mutex);
        shared->report = std::move(report);
        shared->failure = std::move(failure);
        shared->ended = true;
        tell();
    }).detach();
}

SpanReportJob::~SpanReportJob()
{
    abandon();
}

void SpanReportJob::cancel()
{
    abandon();
    deadlineTimer_->stop();
}

void SpanReportJob::abandon()
{
    std::lock_guard lock(shared_->mutex);
    shared_->control.cancel();
    shared_->receiver = nullptr;
}

void SpanReportJob::arrived()
{
    int done = 0;
    int total = 0;
    std::shared_ptr<const SpanReport> report;
    QString failure;
    bool ended = false;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->receiver == nullptr)
            return;
        done = shared_->done;
        total = shared_->total;
        report = shared_->report;
        failure = shared_->failure;
        ended = shared_->ended;
    }
    emit progressed(done, total);
    if (!ended)
        return;
    deadlineTimer_->stop();
    if (report)
        emit finished(report);
    else
        emit failed(failure);
}

void SpanReportJob::watchDeadline()
{
    if (shared_->control.stuckForMs() <= DriveDeadline.count())
        return;
    cancel();
    emit failed(QString::fromStdString(Failure(FailureCode::DeviceIoError, place_ + " does not answer").message()));
}

} // namespace tarnveil
