#pragma once

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

namespace tarnveil {

// Taken by every postCall() on both sides of the hand-off.
std::recursive_mutex& postedCallLock();

// A call handed from one thread to the thread of a QObject. Qt's event queue
// orders the posting before the call with locks of its own, which a thread
// checker cannot see into (Debian's Qt is not built for it). The poster holds
// postedCallLock() while it posts, and the call takes it before it touches
// what it carries: that order is then one the checker sees too. So does the
// destructor, since a call whose receiver has gone is destroyed unrun.
// Recursive, because the poster's own moved-from copies die under its lock.
template <typename Call>
class PostedCall {
public:
    explicit PostedCall(Call call) : call_(std::move(call)) {}
    PostedCall(PostedCall&&) = default;
    PostedCall& operator=(PostedCall&&) = delete;
    ~PostedCall() { const std::lock_guard received(postedCallLock()); }

    void operator()()
    {
        { const std::lock_guard received(postedCallLock()); }
        call_();
    }

private:
    Call call_;
};

// Runs `call` on `receiver`'s thread from its event loop; any thread.
template <typename Call>
void postCall(QObject* receiver, Call call)
{
    const std::lock_guard posting(postedCallLock());
    QMetaObject::invokeMethod(receiver, PostedCall<Call>(std::move(call)), Qt::QueuedConnection);
}

} // namespace tarnveil
