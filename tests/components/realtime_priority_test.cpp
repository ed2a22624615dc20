#include "components/realtime_priority.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <gtest/gtest.h>

#include <grp.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>

using namespace tarnveil;

namespace {
bool brokerRuns()
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.RealtimeKit1"));
}

// An ordinary user's process, which RLIMIT_RTPRIO keeps from real-time scheduling.
void becomeOrdinaryUser()
{
    if (geteuid() == 0) {
        const gid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
            setresuid(nobody, nobody, nobody) != 0)
            std::exit(2);
    }
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_RTPRIO, &none) != 0)
        std::exit(2);
}
} // namespace

// Refused by its limit, a thread gets real-time scheduling from the desktop's
// broker, as sound servers do.
TEST(RealtimePriority, AThreadItsLimitRefusesGetsItFromTheBroker)
{
    if (!brokerRuns())
        GTEST_SKIP() << "no real-time broker on the system bus";
    // The check above left a bus connection and its thread, which a plain fork would not carry.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            becomeOrdinaryUser();
            const bool granted = requestRealtimeScheduling();
            std::exit(granted && sched_getscheduler(0) != SCHED_OTHER ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}
