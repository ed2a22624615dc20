#include "loudness/profile_source.h"

#include "loudness/log_measurement.h"
#include "loudness/profile_store.h"

namespace tarnveil {

std::optional<LoudnessProfile> obtainProfile(ProfileStore& store, const std::filesystem::path& logFolder,
                                             const QByteArray& name, MeasureControl& control)
{
    const LogKey key = [&] {
        const DriveCall call(control);
        return readLogKey(logFolder, name);
    }();
    if (std::optional<LoudnessProfile> stored = store.load(key))
        return stored;
    std::optional<LogMeasurement> measurement;
    {
        const DriveCall call(control);
        measurement.emplace(logFolder / name.toStdString(), false);
    }
    if (!measurement->readOn(control))
        return std::nullopt;
    LoudnessProfile profile = measurement->profile();
    // Stored under the state it had before it was read: had it changed while
    // being read, the next look finds another key and measures it again.
    store.save(key, profile);
    return profile;
}

} // namespace tarnveil
