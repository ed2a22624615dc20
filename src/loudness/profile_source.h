#pragma once

#include "loudness/loudness_profile.h"
#include "loudness/measure_control.h"

#include <QByteArray>

#include <filesystem>
#include <optional>

namespace tarnveil {

class ProfileStore;

// Measuring thread: the profile of a finished log, from the store when it holds
// this state of the log, else measured and stored. Nothing when cancelled.
// Throws Failure when the log cannot be read.
std::optional<LoudnessProfile> obtainProfile(ProfileStore& store, const std::filesystem::path& logFolder,
                                             const QByteArray& name, MeasureControl& control);

} // namespace tarnveil
