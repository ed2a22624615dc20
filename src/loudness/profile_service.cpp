#include "loudness/profile_service.h"

#include "loudness/idle_priority.h"
#include "loudness/log_measurement.h"
#include "loudness/measure_control.h"
#include "loudness/profile_source.h"
#include "loudness/profile_store.h"
#include "platform/failure.h"
#include "share/drive_lane.h"
#include "share/posted_call.h"

#include <QTimer>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tarnveil {

namespace {

// How often the live log is read on while nothing else waits.
constexpr std::chrono::seconds LiveLookInterval{2};
// How long a closing service waits for its worker to close its store, and
// how long a call of the worker's may have waited before it counts as stuck.
constexpr std::chrono::seconds WorkerStopWait{2};
constexpr int64_t StuckCallMs = 250;

struct Request {
    QByteArray name;
    bool live = false;
};

struct Result {
    QByteArray name;
    std::shared_ptr<const LoudnessProfile> profile;
    QString failure;
};

} // namespace

// Everything the worker thread touches: it holds a share of it, so a worker
// left stuck on a dead share outlives the service safely.
struct ProfileService::Shared {
    std::filesystem::path logFolder;
    MeasureControl control;
    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex from here on.
    std::deque<Request> queue;
    QByteArray liveName;
    QByteArray current;
    std::vector<Result> results;
    ProfileService* receiver = nullptr;
    bool finished = false; // the worker has closed its store and returned
};

namespace {

Result work(const std::filesystem::path& logFolder, ProfileStore& store, const Request& request,
            std::unique_ptr<LogMeasurement>& live, QByteArray& liveName, MeasureControl& control)
{
    Result result{request.name, nullptr, {}};
    try {
        if (request.live) {
            if (!live || liveName != request.name) {
                live.reset();
                const DriveCall call(control);
                live = std::make_unique<LogMeasurement>(logFolder / request.name.toStdString(), true);
                liveName = request.name;
            }
            if (live->readOn(control))
                result.profile = std::make_shared<LoudnessProfile>(live->profile());
        } else if (std::optional<LoudnessProfile> profile = obtainProfile(store, logFolder, request.name, control)) {
            result.profile = std::make_shared<LoudnessProfile>(std::move(*profile));
        }
    } catch (const Failure& failure) {
        result.failure = QString::fromStdString(failure.message());
    } catch (const std::exception& error) {
        result.failure = QString::fromStdString(failureFromException(error).message());
    }
    return result;
}

} // namespace

void ProfileService::run(const std::shared_ptr<Shared>& shared)
{
    runAtIdlePriority();
    {
        ProfileStore store(shared->logFolder);
        std::unique_ptr<LogMeasurement> live;
        QByteArray liveName;
        int64_t liveFramesDelivered = -1;
        std::unique_lock lock(shared->mutex);
        while (!shared->control.cancelled.load()) {
            if (shared->queue.empty()) {
                if (shared->liveName.isEmpty())
                    shared->wake.wait(lock);
                else
                    shared->wake.wait_for(lock, LiveLookInterval);
                if (shared->queue.empty() && !shared->liveName.isEmpty())
                    shared->queue.push_back({shared->liveName, true});
                continue;
            }
            const Request request = shared->queue.front();
            shared->queue.pop_front();
            if (request.live && request.name != shared->liveName)
                continue; // another log is live by now
            if (shared->liveName != liveName) {
                live.reset();
                liveName.clear();
                liveFramesDelivered = -1;
            }
            shared->current = request.name;
            lock.unlock();
            Result result = work(shared->logFolder, store, request, live, liveName, shared->control);
            lock.lock();
            shared->current.clear();
            if (shared->control.cancelled.load())
                break;
            // A live log that has not grown since it was last handed over is not handed over again.
            if (request.live && result.profile) {
                if (result.profile->frames == liveFramesDelivered)
                    continue;
                liveFramesDelivered = result.profile->frames;
            }
            if (!result.profile && result.failure.isEmpty())
                continue;
            shared->results.push_back(std::move(result));
            if (ProfileService* receiver = shared->receiver)
                postCall(receiver, [receiver] { receiver->deliver(); });
        }
    }
    // Told only once the store's connection is closed: the service waits for
    // this, so that no connection is left to close after the program's exit
    // has begun tearing down the database driver.
    std::lock_guard lock(shared->mutex);
    shared->finished = true;
    shared->wake.notify_all();
}

ProfileService::ProfileService(std::filesystem::path logFolder, std::string place, QObject* parent)
    : QObject(parent), logFolder_(std::move(logFolder)), place_(std::move(place)), deadlineTimer_(new QTimer(this))
{
    deadlineTimer_->setInterval(1000);
    connect(deadlineTimer_, &QTimer::timeout, this, &ProfileService::watchDeadline);
    startWorker();
}

ProfileService::~ProfileService()
{
    std::unique_lock lock(shared_->mutex);
    shared_->control.cancel();
    shared_->receiver = nullptr;
    shared_->wake.notify_all();
    // A cancelled worker stops at its next read; one stuck in a call on a
    // dead share is let go at once, so a Close never waits on the drive.
    const auto givenUpAt = std::chrono::steady_clock::now() + WorkerStopWait;
    while (!shared_->finished && shared_->control.stuckForMs() < StuckCallMs &&
           std::chrono::steady_clock::now() < givenUpAt)
        shared_->wake.wait_for(lock, std::chrono::milliseconds(20));
}

void ProfileService::startWorker()
{
    auto shared = std::make_shared<Shared>();
    shared->logFolder = logFolder_;
    shared->receiver = this;
    shared_ = shared;
    std::thread([shared] { run(shared); }).detach();
}

void ProfileService::request(const QByteArray& name, bool live, bool urgent)
{
    std::lock_guard lock(shared_->mutex);
    if (live)
        shared_->liveName = name;
    else if (shared_->liveName == name)
        shared_->liveName.clear();
    auto& queue = shared_->queue;
    std::erase_if(queue, [&](const Request& queued) { return queued.name == name; });
    if (urgent)
        queue.push_front({name, live});
    else
        queue.push_back({name, live});
    shared_->wake.notify_all();
    if (!deadlineTimer_->isActive())
        deadlineTimer_->start();
}

std::shared_ptr<const LoudnessProfile> ProfileService::profile(const QByteArray& name) const
{
    const auto found = profiles_.find(name);
    return found != profiles_.end() ? found->second : nullptr;
}

void ProfileService::deliver()
{
    std::vector<Result> results;
    {
        std::lock_guard lock(shared_->mutex);
        results.swap(shared_->results);
    }
    for (Result& result : results) {
        if (result.profile) {
            profiles_[result.name] = std::move(result.profile);
            emit profiled(result.name);
        } else {
            emit failed(result.name, result.failure);
        }
    }
}

void ProfileService::watchDeadline()
{
    QByteArray stuck;
    std::deque<Request> pending;
    QByteArray liveName;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->current.isEmpty() && shared_->queue.empty() && shared_->liveName.isEmpty()) {
            // Nothing can get stuck until the next request, which starts the watch again.
            deadlineTimer_->stop();
            return;
        }
        if (shared_->current.isEmpty() || shared_->control.stuckForMs() <= DriveDeadline.count())
            return;
        stuck = shared_->current;
        pending.swap(shared_->queue);
        liveName = shared_->liveName;
        shared_->control.cancel();
        shared_->receiver = nullptr;
        shared_->wake.notify_all();
    }
    startWorker();
    {
        std::lock_guard lock(shared_->mutex);
        shared_->queue = std::move(pending);
        shared_->liveName = liveName == stuck ? QByteArray() : liveName;
    }
    const Failure failure(FailureCode::DeviceIoError, place_ + " does not answer");
    emit failed(stuck, QString::fromStdString(failure.message()));
}

} // namespace tarnveil
