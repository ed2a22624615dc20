#pragma once

#include "loudness/loudness_profile.h"

#include <QByteArray>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace tarnveil {

class CatalogDatabase;

// What tells one state of a log from another: its name below the log folder,
// its size and its modification time. A log replaced or grown since it was
// measured has another key, and is measured again.
struct LogKey {
    QByteArray name;
    int64_t size = 0;
    int64_t modifiedNs = 0;
};

// Reads the key of a log (one stat on the drive; may block). Throws Failure.
LogKey readLogKey(const std::filesystem::path& logFolder, const QByteArray& name);

// The profiles of finished logs, kept in the catalog of their log folder.
// Opened and used on one thread, the one that measures, never the GUI thread's
// (the catalog is on local disk, but its callers wait on the drive anyway).
class ProfileStore {
public:
    explicit ProfileStore(const std::filesystem::path& logFolder);
    ~ProfileStore();
    ProfileStore(const ProfileStore&) = delete;
    ProfileStore& operator=(const ProfileStore&) = delete;

    // The profile stored for exactly this state of the log, if any.
    std::optional<LoudnessProfile> load(const LogKey& key);

    // Stores the profile of a finished log, replacing an older state's.
    void save(const LogKey& key, const LoudnessProfile& profile);

private:
    std::unique_ptr<CatalogDatabase> catalog_;
};

} // namespace tarnveil
