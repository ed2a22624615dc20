#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tarnveil {

// The bare names of the plain files in `folder` whose names match "*.wav" in any
// letter case (symbolic links count when they lead to a plain file), in ascending
// order. Throws Failure when the folder cannot be read.
std::vector<std::string> listWaveFiles(const std::filesystem::path& folder);

} // namespace tarnveil
