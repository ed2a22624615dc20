#include "components/flac_frames.h"

#include <optional>
#include <vector>

namespace tarnveil {

namespace {

uint8_t crc8(std::span<const uint8_t> bytes)
{
    uint8_t crc = 0;
    for (const uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

struct FrameHeader {
    uint64_t firstSample = 0;
    uint64_t blockSize = 0;
};

// The frame header at the start of `bytes`, checked by its CRC.
std::optional<FrameHeader> headerAt(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 6 || bytes[0] != 0xFF || (bytes[1] & 0xFE) != 0xF8 || (bytes[3] & 0x01) != 0)
        return std::nullopt;
    const bool variableBlocks = (bytes[1] & 0x01) != 0;
    const int sizeCode = bytes[2] >> 4;
    const int rateCode = bytes[2] & 0x0F;
    if (sizeCode == 0 || rateCode == 15)
        return std::nullopt;
    // The frame's (or first sample's) number, coded as UTF-8 code points are.
    size_t at = 4;
    const uint8_t lead = bytes[at++];
    int more = 0;
    uint64_t number = lead;
    if ((lead & 0x80) != 0) {
        while (more < 7 && (lead & (0x40 >> more)) != 0)
            ++more;
        if (more == 0 || more > 6)
            return std::nullopt;
        number = lead & (0x3F >> more);
    }
    for (int i = 0; i < more; ++i) {
        if (at >= bytes.size() || (bytes[at] & 0xC0) != 0x80)
            return std::nullopt;
        number = number << 6 | (bytes[at++] & 0x3F);
    }
    uint64_t blockSize = 0;
    if (sizeCode == 1)
        blockSize = 192;
    else if (sizeCode <= 5)
        blockSize = uint64_t{576} << (sizeCode - 2);
    else if (sizeCode >= 8)
        blockSize = uint64_t{256} << (sizeCode - 8);
    const size_t sizeBytes = sizeCode == 6 ? 1 : sizeCode == 7 ? 2 : 0;
    const size_t rateBytes = rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    if (at + sizeBytes + rateBytes >= bytes.size())
        return std::nullopt;
    if (sizeBytes == 1)
        blockSize = uint64_t{bytes[at]} + 1;
    else if (sizeBytes == 2)
        blockSize = (uint64_t{bytes[at]} << 8 | bytes[at + 1]) + 1;
    at += sizeBytes + rateBytes;
    if (crc8(bytes.first(at)) != bytes[at])
        return std::nullopt;
    // With fixed blocks every frame but the last has the size this one has.
    return FrameHeader{variableBlocks ? number : number * blockSize, blockSize};
}

} // namespace

int64_t samplesBeforeLastFlacFrame(std::span<const uint8_t> tail)
{
    // Audio bytes pass for a header by chance now and then: a header counts
    // once the frame before it is found where its numbering says.
    std::vector<FrameHeader> later;
    for (size_t at = tail.size(); at-- > 0;) {
        const std::optional<FrameHeader> header = headerAt(tail.subspan(at));
        if (!header)
            continue;
        for (const FrameHeader& next : later) {
            if (header->firstSample + header->blockSize == next.firstSample)
                return static_cast<int64_t>(next.firstSample);
        }
        later.push_back(*header);
    }
    return 0;
}

} // namespace tarnveil
