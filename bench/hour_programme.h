#pragma once

#include <filesystem>

namespace tarnveil::bench {

// One hour of programme that keeps coders and meters busy: a tone gliding from
// 200 Hz to 1 kHz over low noise, 16-bit stereo at `rate`; with `pauses`, every
// tenth minute is silent. A file already there at full length is kept, so that
// repeated runs read it from the page cache.
void writeHourProgramme(const std::filesystem::path& file, int rate, bool pauses);

} // namespace tarnveil::bench
