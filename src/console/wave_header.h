#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarnveil {

// Where the two size fields of a RIFF WAVE file lie, and what they should say
// for the file's present length.
struct WaveSizeFix {
    uint64_t dataSizeOffset = 0; // offset of the data chunk's size field
    uint32_t riffSize = 0;       // file length - 8
    uint32_t dataSize = 0;       // data present after the data chunk's header, whole frames
};

// Header bytes worth reading: chunks before the data are small in any real log.
inline constexpr size_t WaveHeaderReadLimit = 64 * 1024;

// Walks the chunks of `head` (the first bytes of a file that is `fileLength`
// bytes long) to the data chunk and works out the sizes. The data chunk's own
// size is never trusted: a recording in progress leaves it 0 or stale, so the
// walk stops at the data chunk and the size comes from the length.
// std::nullopt when the bytes are not a RIFF WAVE header with a format chunk
// (at least 16 bytes) before the data chunk, when the data chunk starts beyond
// the file's end or beyond `head`, or when the file is 4 GiB or longer.
std::optional<WaveSizeFix> locateWaveSizes(std::span<const uint8_t> head, uint64_t fileLength);

} // namespace tarnveil
