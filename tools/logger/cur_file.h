#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace tarnveil::logger {

// CurFile holds one 128-byte record: n (16-bit little-endian), n bytes of text
// (at most 126), zeros after.
inline constexpr size_t CurFileRecordBytes = 128;
inline constexpr size_t CurFileMaxText = CurFileRecordBytes - 2;

std::array<uint8_t, CurFileRecordBytes> curFileRecord(std::string_view text);

// Replaces `loggerFolder`/CurFile with a record of `text` through a temporary
// file and a rename: a reader, also one across a network share, opens either
// the old file or the new one, whole. An in-place rewrite could be seen half
// done, or empty right after a truncation. Throws std::system_error.
void writeCurFile(const std::filesystem::path& loggerFolder, std::string_view text);

} // namespace tarnveil::logger
