#include "components/realtime_kit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QString>
#include <QVariant>

#include <sys/resource.h>

#include <algorithm>
#include <optional>

namespace tarnveil {

namespace {
const QString Service = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString Path = QStringLiteral("/org/freedesktop/RealtimeKit1");
// The broker answers at once; one that does not must not hold the caller.
constexpr int CallTimeoutMs = 1000;

std::optional<QVariant> kitProperty(const QDBusConnection& bus, const QString& name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << Service << name;
    const QDBusMessage reply = bus.call(get, QDBus::Block, CallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
}

bool boundRealtimeTime(rlim_t boundUs)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return false;
    limit.rlim_cur = std::min(limit.rlim_cur, boundUs);
    limit.rlim_max = std::min(limit.rlim_max, boundUs);
    return setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

bool askKit(const QDBusConnection& bus, pid_t tid)
{
    const std::optional<QVariant> bound = kitProperty(bus, QStringLiteral("RTTimeUSecMax"));
    if (!bound || bound->toLongLong() <= 0 || !boundRealtimeTime(static_cast<rlim_t>(bound->toLongLong())))
        return false;
    QDBusMessage make = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("MakeThreadRealtime"));
    make << QVariant::fromValue(static_cast<quint64>(tid)) << QVariant::fromValue(quint32{1});
    return bus.call(make, QDBus::Block, CallTimeoutMs).type() == QDBusMessage::ReplyMessage;
}
} // namespace

bool requestRealtimeFromKit(pid_t tid)
{
    // A connection of its own: the broker judges the caller by the identity the
    // connection was opened with, and the call may come from any thread.
    const QString name = QStringLiteral("tarnveil-realtime-%1").arg(tid);
    bool granted = false;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
        granted = bus.isConnected() && askKit(bus, tid);
    }
    QDBusConnection::disconnectFromBus(name);
    return granted;
}

} // namespace tarnveil
