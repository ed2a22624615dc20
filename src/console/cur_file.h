#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace tarnveil {

// The logger's CurFile holds a 2-byte little-endian count n (at most 126) and n
// bytes naming the log being recorded, without its drive letter.
inline constexpr size_t CurFileMaxName = 126;
inline constexpr size_t CurFileReadSize = 2 + CurFileMaxName;

// The name held in the first bytes of CurFile ("" for an empty file or n = 0).
// Bytes beyond the name are ignored. Throws Failure: InvalidFileFormat when
// n > 126, InputPastEnd when fewer than n bytes follow the count.
std::string parseCurFile(std::span<const uint8_t> bytes);

// The name held by the CurFile at `curFile`, or std::nullopt when there is no
// such file. Opened without blocking and refused unless it is a regular file:
// a FIFO under that name would otherwise wait for a writer. `shown` names it in
// failures. Throws Failure.
std::optional<std::string> readCurFileAt(const std::filesystem::path& curFile, const std::string& shown);

} // namespace tarnveil
