#pragma once

#include "platform/failure.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <exception>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

namespace tarnveil {

// What a piece of file work gave: its value, or the failure that ended it.
template <typename Value>
struct Outcome {
    std::optional<Value> value;
    std::optional<Failure> failure;
};

// Runs `work` (file work that may block on the logger drive) on a thread of
// its own and hands the outcome to `done` on the GUI thread, unless `receiver`
// has gone meanwhile. The thread is never joined: a call stuck on a dead share
// finishes on its own and its answer is dropped. GUI thread only.
template <typename Value>
void runInBackground(QObject* receiver, std::function<Value()> work, std::function<void(Outcome<Value>)> done)
{
    QPointer<QObject> guard(receiver);
    std::thread([guard, work = std::move(work), done = std::move(done)]() mutable {
        Outcome<Value> outcome;
        try {
            outcome.value = work();
        } catch (const Failure& failure) {
            outcome.failure = failure;
        } catch (const std::exception& error) {
            outcome.failure = Failure(FailureCode::DeviceIoError, error.what());
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, done = std::move(done), outcome = std::move(outcome)]() mutable {
                if (guard)
                    done(std::move(outcome));
            },
            Qt::QueuedConnection);
    }).detach();
}

} // namespace tarnveil
