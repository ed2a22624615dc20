#pragma once

#include "platform/drive_call.h"
#include "platform/failure.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

class QObject;

namespace tarnveil {

// How long a call on the logger's drive may go unanswered before the operator
// is told. A share that stalls longer is as good as gone for someone listening.
inline constexpr std::chrono::milliseconds DriveDeadline{5000};

template <typename T>
using DriveOutcome = std::variant<T, Failure>;


// Runs file-system work that may reach a network share away from the GUI
// thread, one request at a time per lane (the log list, opening a log, ...).
//
// Every call gets a thread of its own, so a call stuck in the kernel on a dead
// share holds up nothing else: it finishes whenever the share answers, and its
// result is thrown away. `done` runs on the GUI thread with the work's result
// or its failure, or with a "does not answer" failure once the deadline has
// passed since the work's last driveCall(), whichever comes first. Starting a
// newer call on the lane makes the older one's result stale: it is dropped, its
// `done` never runs, and its work stops at its next driveCall(). So does
// cancel(), so does the deadline, and so does destroying the lane.
//
// `work` runs on its own thread and may outlive the lane and its caller: it
// must own everything it uses (capture by value) and must not touch widgets or
// Module1. Whatever it returns that is still unclaimed when the result is
// dropped is destroyed on that thread.
class DriveLane {
public:
    explicit DriveLane(std::chrono::milliseconds deadline = DriveDeadline);
    ~DriveLane();
    DriveLane(const DriveLane&) = delete;
    DriveLane& operator=(const DriveLane&) = delete;

    // `place` names what is reached, as the operator knows it
    // ("L:\logger\logs"), for the deadline's message.
    template <typename Work, typename Done>
    void start(std::string place, Work work, Done done)
    {
        using Result = std::invoke_result_t<Work&>;
        using Outcome = DriveOutcome<Result>;
        auto slot = std::make_shared<std::unique_ptr<Outcome>>();
        auto task = std::make_shared<Work>(std::move(work));
        auto handler = std::make_shared<Done>(std::move(done));
        startErased(
            std::move(place),
            [task, slot] {
                try {
                    *slot = std::make_unique<Outcome>(std::in_place_index<0>, (*task)());
                } catch (const DriveCallCancelled&) {
                } catch (const Failure& failure) {
                    *slot = std::make_unique<Outcome>(std::in_place_index<1>, failure);
                } catch (const std::exception& error) {
                    *slot = std::make_unique<Outcome>(std::in_place_index<1>, unexpectedFailure(error));
                }
            },
            [handler, slot](const Failure* overdue) {
                if (overdue != nullptr)
                    (*handler)(Outcome(std::in_place_index<1>, *overdue));
                else
                    (*handler)(std::move(**slot));
            });
    }

    // Drops the result of the call in progress, if any.
    void cancel();

    // A call has been started and neither its result nor its deadline has come.
    bool busy() const { return deliver_ != nullptr; }

private:
    struct Mailbox;

    void startErased(std::string place, std::function<void()> work, std::function<void(const Failure*)> deliver);
    void arrived(uint64_t ticket);
    void overdue(uint64_t ticket);
    void dropPending();
    void deliver(const Failure* overdue) noexcept;
    static Failure unexpectedFailure(const std::exception& error);

    std::chrono::milliseconds deadline_;
    std::unique_ptr<QObject> receiver_;
    std::shared_ptr<Mailbox> mailbox_;
    uint64_t latest_ = 0;
    std::shared_ptr<DriveCallWatch> job_;
    std::string place_;
    std::function<void(const Failure*)> deliver_;
};

// Runs `release` on a thread of its own: closing a file or joining a reader
// that is stuck on a dead share must not hold up the caller.
void releaseInBackground(std::function<void()> release);

// Destroys `owned` on a thread of its own (see above).
template <typename T>
void releaseOwnedInBackground(T owned)
{
    releaseInBackground([held = std::make_shared<T>(std::move(owned))]() mutable { held.reset(); });
}

} // namespace tarnveil
