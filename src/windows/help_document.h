#pragma once

#include <filesystem>
#include <vector>

namespace tarnveil {

// Copies the shipped operator's guide, help.rtf, into the program folder: called
// when the program folder is created on first start. The copy is taken from
// beside the executable, else from the installed data folder. An existing guide
// is never replaced; nothing found or nothing writable is no failure (the help
// window then reports the missing guide).
void installHelpDocument(const std::filesystem::path& programFolder) noexcept;

// Same, from the first of `sources` that exists.
void installHelpDocument(const std::filesystem::path& programFolder,
                         const std::vector<std::filesystem::path>& sources) noexcept;

} // namespace tarnveil
