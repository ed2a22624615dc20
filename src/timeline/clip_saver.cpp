#include "timeline/clip_saver.h"

#include "platform/failure.h"
#include "share/drive_lane.h"
#include "share/posted_call.h"
#include "timeline/catalog_survey.h"

#include <QCoreApplication>
#include <QPointer>

#include <chrono>

namespace tarnveil {

namespace {

enum class Outcome { Saved, Cancelled, Failed, TargetExists };

} // namespace

bool runClipJob(const ClipJob& job, ClipCancel& cancel, const ClipProgress& progress)
{
    const QByteArray live = readLiveLogName(job.curFile);
    const ClipPlan plan =
        planClip(surveyCatalog(*job.catalog, job.logFolder, job.fromMs, job.toMs, live), job.fromMs, job.toMs);
    return writeClip(job.logFolder, plan, job.sndfileFormat, job.target, job.replace, cancel, progress);
}

ClipSaver::ClipSaver(QObject* parent) : QObject(parent) {}

ClipSaver::~ClipSaver()
{
    // The console is closing: no save may go on after it, nor leave its
    // temporary file. One stuck in a call on a share that does not answer is
    // waited for no longer than the drive's deadline: Close must end.
    const auto deadline = std::chrono::steady_clock::now() + DriveDeadline;
    for (Run& run : runs_)
        run.cancel->cancel();
    for (Run& run : runs_) {
        if (run.over.wait_until(deadline) == std::future_status::ready)
            run.thread.join();
        else
            run.thread.detach();
    }
}

void ClipSaver::start(ClipJob job)
{
    cancel();
    joinFinishedRuns();
    auto cancel = std::make_shared<ClipCancel>();
    QPointer<ClipSaver> guard(this);
    // Only the save in hand reports; one replaced by a newer start stays quiet.
    auto post = [guard, cancel](auto&& call) {
        postCall(QCoreApplication::instance(), [guard, cancel, call = std::forward<decltype(call)>(call)] {
            if (guard && !guard->runs_.empty() && guard->runs_.back().cancel == cancel)
                call(*guard);
        });
    };
    std::promise<void> over;
    Run run{cancel, {}, over.get_future()};
    run.thread = std::thread([job = std::move(job), cancel, post, over = std::move(over)]() mutable {
        int reported = -1;
        const ClipProgress progress = [&](int64_t done, int64_t total) {
            const int permille = total > 0 ? static_cast<int>(done * 1000 / total) : 1000;
            if (permille != reported) {
                reported = permille;
                post([permille, cancel](ClipSaver& saver) {
                    if (!cancel->cancelled())
                        emit saver.progressed(permille);
                });
            }
        };
        Outcome outcome = Outcome::Failed;
        QString failure;
        try {
            outcome = runClipJob(job, *cancel, progress) ? Outcome::Saved : Outcome::Cancelled;
        } catch (const Failure& error) {
            if (error.code() == FailureCode::FileExists)
                outcome = Outcome::TargetExists;
            else
                failure = QString::fromStdString(error.message());
        } catch (const std::exception& error) {
            failure = QString::fromStdString(Failure(FailureCode::DeviceIoError, error.what()).message());
        }
        post([outcome, failure](ClipSaver& saver) {
            if (outcome == Outcome::TargetExists)
                emit saver.targetExists();
            else
                emit saver.finished(outcome == Outcome::Saved, failure);
        });
        over.set_value();
    });
    runs_.push_back(std::move(run));
}

void ClipSaver::cancel()
{
    if (!runs_.empty())
        runs_.back().cancel->cancel();
}

void ClipSaver::joinFinishedRuns()
{
    std::erase_if(runs_, [](Run& run) {
        if (run.over.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return false;
        run.thread.join();
        return true;
    });
}

} // namespace tarnveil
