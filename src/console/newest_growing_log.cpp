#include "console/newest_growing_log.h"

#include "platform/failure.h"
#include "platform/log_folder.h"

namespace tarnveil {

namespace {
// A logger appends many times a second; one that has not for a second is not recording.
constexpr auto LookInterval = std::chrono::seconds(1);

Failure notYetKnown(const std::filesystem::path& log)
{
    return Failure(FailureCode::PathFileAccessError, log.string() + ": not yet known whether it is being recorded");
}
} // namespace

NewestGrowingLog::NewestGrowingLog(std::filesystem::path logFolder) : logFolder_(std::move(logFolder)) {}

std::optional<std::filesystem::path> NewestGrowingLog::operator()()
{
    const auto now = std::chrono::steady_clock::now();
    if (lastLook_ && now - *lastLook_ < LookInterval) {
        if (verdict_)
            return *verdict_;
        throw notYetKnown(logFolder_ / watched_);
    }

    const std::optional<LogFile> newestListed = newestLog(logFolder_);
    lastLook_ = now;
    if (!newestListed) {
        verdict_.emplace(std::nullopt);
        return std::nullopt;
    }
    const std::string& newest = newestListed->path;
    const std::filesystem::path newestFile = logFolder_ / newest;
    std::error_code error;
    const uint64_t length = std::filesystem::file_size(newestFile, error);
    if (error)
        throw failureFromErrno(error.value(), newestFile.string());

    const bool sameLog = newest == watched_;
    const bool grown = sameLog && length != watchedLength_;
    // A log that was being recorded, now followed by a newer one: the logger
    // has moved on to that, and listening goes on into it without a second's doubt.
    const bool wasRecorded = verdict_ && verdict_->has_value();
    const bool movedOn = !sameLog && wasRecorded && std::filesystem::exists(logFolder_ / watched_, error);
    watched_ = newest;
    watchedLength_ = length;
    if (!sameLog && !movedOn) {
        verdict_.reset();
        throw notYetKnown(newestFile);
    }
    verdict_.emplace(grown || movedOn ? std::optional<std::filesystem::path>(newestFile) : std::nullopt);
    return *verdict_;
}

} // namespace tarnveil
