#pragma once

#include <sys/stat.h>

#include <cstdint>

namespace tarnveil {

// A file's modification time to the nanosecond: what the catalog keys a log's
// stored facts and profile by, so that a rewrite within the same second counts.
inline int64_t modifiedNs(const struct stat& status)
{
    return int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
}

} // namespace tarnveil
