#include "share/drive_lane.h"

#include "share/posted_call.h"
#include "windows/handler_guard.h"

#include <QObject>
#include <QTimer>

#include <mutex>
#include <thread>

namespace tarnveil {

// The way back from a call's thread to the GUI thread. The lane clears it when
// it goes, under the lock, so that a call finishing late posts to nobody.
struct DriveLane::Mailbox {
    std::mutex mutex;
    DriveLane* lane = nullptr;
    QObject* receiver = nullptr;

    void post(uint64_t ticket)
    {
        std::lock_guard lock(mutex);
        if (receiver == nullptr)
            return;
        DriveLane* target = lane;
        postCall(receiver, [target, ticket] { target->arrived(ticket); });
    }
};

DriveLane::DriveLane(std::chrono::milliseconds deadline)
    : deadline_(deadline), receiver_(std::make_unique<QObject>()), mailbox_(std::make_shared<Mailbox>())
{
    mailbox_->lane = this;
    mailbox_->receiver = receiver_.get();
}

DriveLane::~DriveLane()
{
    {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->lane = nullptr;
        mailbox_->receiver = nullptr;
    }
    // Results and deadlines already queued go with the receiver.
    receiver_.reset();
    dropPending();
}

// A result that has arrived but not been handed over may hold a file on the
// share, whose closing could block: it goes on a thread of its own. A job still
// running stops at its next call on the drive.
void DriveLane::dropPending()
{
    if (job_)
        job_->dropped = true;
    job_.reset();
    if (deliver_)
        releaseInBackground([unwanted = std::move(deliver_)] {});
    deliver_ = nullptr;
}

void DriveLane::startErased(std::string place, std::function<void()> work, std::function<void(const Failure*)> deliver)
{
    const uint64_t ticket = latest_ + 1;
    auto job = std::make_shared<DriveCallWatch>();
    std::thread([work = std::move(work), mailbox = mailbox_, job, ticket]() mutable {
        {
            const DriveCallScope watched(*job);
            work();
            work = nullptr;
        }
        mailbox->post(ticket);
    }).detach();
    latest_ = ticket;
    dropPending();
    job_ = std::move(job);
    place_ = std::move(place);
    deliver_ = std::move(deliver);
    QTimer::singleShot(deadline_, receiver_.get(), [this, ticket] { overdue(ticket); });
}

void DriveLane::cancel()
{
    ++latest_;
    dropPending();
}

void DriveLane::arrived(uint64_t ticket)
{
    if (ticket != latest_ || !deliver_)
        return;
    job_.reset();
    deliver(nullptr);
}

void DriveLane::overdue(uint64_t ticket)
{
    if (ticket != latest_ || !deliver_)
        return;
    // The deadline is for one call: a job that began a call since the timer
    // was set gets the rest of that call's time.
    const auto sinceCall = std::chrono::nanoseconds(DriveCallWatch::steadyNowNs() - job_->lastCallNs.load());
    if (sinceCall < deadline_) {
        const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - sinceCall);
        QTimer::singleShot(rest, receiver_.get(), [this, ticket] { overdue(ticket); });
        return;
    }
    // Overdue: the job makes no further calls once its hung one returns.
    job_->dropped = true;
    job_.reset();
    const Failure failure(FailureCode::DeviceIoError, place_ + " does not answer");
    deliver(&failure);
}

void DriveLane::deliver(const Failure* overdue) noexcept
{
    // Taken out first: the handler may start the lane's next call.
    const auto handler = std::move(deliver_);
    deliver_ = nullptr;
    runHandler([&] { handler(overdue); });
}

Failure DriveLane::unexpectedFailure(const std::exception& error)
{
    return Failure(FailureCode::DeviceIoError, error.what());
}

void releaseInBackground(std::function<void()> release)
{
    std::thread(std::move(release)).detach();
}

} // namespace tarnveil
