#include "catalog/log_catalog.h"

namespace tarnveil {

namespace {

// Folders the oldest-first look takes in one look at most; the rest of its
// round comes with the next looks, so that no poll costs many calls at once.
constexpr int OldestPerLook = 6;

} // namespace

// The logger's clean-up deletes the oldest logs. So once an hour the oldest
// folders that hold logs are looked at, oldest first, up to the first one that
// has not changed: a deleted log leaves the list within the hour, for a few
// calls. Everything else is looked at in turn, one folder a look and each at
// most once an hour, which on a share of thousands of folders is a slow round
// that catches what an operator changed by hand. On a local disk,
// notification brings the news, and the hourly look takes all older folders.
void LogCatalog::lookAtOlder(CatalogLook& look)
{
    const int64_t now = clock_();
    if (look.local) {
        while (const std::optional<std::string> next = nextToSweep(now))
            check(*next, look);
        return;
    }
    if (!oldestAfter_ && now >= oldestDueS_) {
        oldestAfter_.emplace();
        oldestDueS_ = now + OlderFoldersEveryS;
    }
    for (int looked = 0; oldestAfter_ && looked < OldestPerLook; ++looked) {
        const std::optional<std::string> next = oldestHoldingLogsAfter(*oldestAfter_);
        if (!next || check(*next, look) == Seen::Unchanged)
            oldestAfter_.reset();
        else
            oldestAfter_ = *next;
    }
    if (const std::optional<std::string> next = nextToSweep(now))
        check(*next, look);
}

std::optional<std::string> LogCatalog::oldestHoldingLogsAfter(const std::string& after) const
{
    for (auto it = folders_.upper_bound(after); it != folders_.end(); ++it) {
        if (!it->first.empty() && !it->second.logs.empty())
            return it->first;
    }
    return std::nullopt;
}

std::optional<std::string> LogCatalog::nextToSweep(int64_t nowS)
{
    auto it = folders_.upper_bound(sweepAfter_);
    for (size_t seen = 0; seen < folders_.size(); ++seen, ++it) {
        if (it == folders_.end())
            it = folders_.begin();
        if (nowS - it->second.checkedAtS >= OlderFoldersEveryS) {
            sweepAfter_ = it->first;
            return it->first;
        }
    }
    return std::nullopt;
}

} // namespace tarnveil
