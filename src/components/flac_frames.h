#pragma once

#include <cstdint>
#include <span>

namespace tarnveil {

// The first sample of the last FLAC frame whose header lies in `tail`, the last
// bytes of a file: the samples of the whole frames before it. A FLAC log being
// recorded states no length, but each frame header numbers its frame (or its
// first sample), so the end of a long log is known without decoding it.
// 0 when `tail` does not hold two frame headers in a row.
int64_t samplesBeforeLastFlacFrame(std::span<const uint8_t> tail);

} // namespace tarnveil
