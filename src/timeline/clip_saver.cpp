#include "timeline/clip_saver.h"

#include "platform/failure.h"
#include "timeline/catalog_survey.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <thread>

namespace tarnveil {

bool runClipJob(const ClipJob& job, const ClipProgress& progress)
{
    const QByteArray live = readLiveLogName(job.curFile);
    const ClipPlan plan = planClip(surveyCatalog(*job.catalog, job.logFolder, job.fromMs, job.toMs, live), job.fromMs, job.toMs);
    return writeClip(job.logFolder, plan, job.sndfileFormat, job.target, progress);
}

ClipSaver::ClipSaver(QObject* parent) : QObject(parent) {}

ClipSaver::~ClipSaver()
{
    cancel();
}

void ClipSaver::start(ClipJob job)
{
    cancel();
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    QPointer<ClipSaver> guard(this);
    auto post = [guard](auto&& call) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, call = std::forward<decltype(call)>(call)] {
                if (guard)
                    call(*guard);
            },
            Qt::QueuedConnection);
    };
    std::thread([job = std::move(job), cancelled = cancelled_, post] {
        int reported = -1;
        const ClipProgress progress = [&](int64_t done, int64_t total) {
            const int permille = total > 0 ? static_cast<int>(done * 1000 / total) : 1000;
            if (permille != reported) {
                reported = permille;
                post([permille, cancelled](ClipSaver& saver) {
                    if (saver.cancelled_ == cancelled && !*cancelled)
                        emit saver.progressed(permille);
                });
            }
            return !*cancelled;
        };
        bool saved = false;
        QString failure;
        try {
            saved = runClipJob(job, progress);
        } catch (const Failure& error) {
            failure = QString::fromStdString(error.message());
        } catch (const std::exception& error) {
            failure = QString::fromStdString(Failure(FailureCode::DeviceIoError, error.what()).message());
        }
        // Only the save in hand reports; one replaced by a newer start stays quiet.
        post([saved, failure, cancelled](ClipSaver& saver) {
            if (saver.cancelled_ == cancelled)
                emit saver.finished(saved, failure);
        });
    }).detach();
}

void ClipSaver::cancel()
{
    if (cancelled_)
        cancelled_->store(true);
}

} // namespace tarnveil
