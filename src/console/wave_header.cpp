#include "console/wave_header.h"

#include <cstring>

namespace tarnveil {

namespace {

uint32_t le32(std::span<const uint8_t> bytes, uint64_t at)
{
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8
        | static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

uint16_t le16(std::span<const uint8_t> bytes, uint64_t at)
{
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool tagAt(std::span<const uint8_t> bytes, uint64_t at, const char (&tag)[5])
{
    return std::memcmp(bytes.data() + at, tag, 4) == 0;
}

constexpr uint64_t ChunkHeader = 8;
constexpr uint32_t MinFormatSize = 16;

} // namespace

std::optional<WaveSizeFix> locateWaveSizes(std::span<const uint8_t> head, uint64_t fileLength)
{
    const uint64_t available = std::min<uint64_t>(head.size(), fileLength);
    if (available < 12 || !tagAt(head, 0, "RIFF") || !tagAt(head, 8, "WAVE"))
        return std::nullopt;
    // Past 4 GiB the 32-bit fields cannot describe the file; such a log needs a
    // 64-bit format, which the player reads on its own terms.
    if (fileLength > 0xFFFFFFFFu)
        return std::nullopt;

    std::optional<uint16_t> blockAlign;
    uint64_t chunk = 12;
    while (chunk + ChunkHeader <= available) {
        const uint32_t size = le32(head, chunk + 4);
        if (tagAt(head, chunk, "data")) {
            if (!blockAlign)
                return std::nullopt; // data before any format: not a shape we know
            const uint64_t dataOffset = chunk + ChunkHeader;
            const uint64_t frame = *blockAlign == 0 ? 1 : *blockAlign;
            const uint64_t present = fileLength - dataOffset;
            return WaveSizeFix{chunk + 4, static_cast<uint32_t>(fileLength - 8),
                               static_cast<uint32_t>(present - present % frame)};
        }
        if (tagAt(head, chunk, "fmt ")) {
            if (size < MinFormatSize || chunk + ChunkHeader + MinFormatSize > available)
                return std::nullopt;
            blockAlign = le16(head, chunk + ChunkHeader + 12);
        }
        // Chunks are word-aligned: an odd size is followed by one pad byte.
        chunk += ChunkHeader + size + (size & 1u);
    }
    return std::nullopt;
}

} // namespace tarnveil
