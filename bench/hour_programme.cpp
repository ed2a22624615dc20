#include "hour_programme.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace tarnveil::bench {

void writeHourProgramme(const std::filesystem::path& file, int rate, bool pauses)
{
    const int64_t hourFrames = int64_t{3600} * rate;
    if (std::filesystem::exists(file) && std::filesystem::file_size(file) > uint64_t(hourFrames) * 4)
        return;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
    const int64_t chunk = rate / 10;
    std::vector<short> block(static_cast<size_t>(2 * chunk));
    uint32_t noise = 1;
    double phase = 0.0;
    for (int64_t frame = 0; frame < hourFrames; frame += chunk) {
        const double gain = pauses && (frame / (int64_t{60} * rate)) % 10 == 9 ? 0.0 : 1.0;
        const double hz = 200.0 + 800.0 * static_cast<double>(frame) / static_cast<double>(hourFrames);
        for (size_t i = 0; i < static_cast<size_t>(chunk); ++i) {
            phase += 2.0 * std::numbers::pi * hz / rate;
            noise = noise * 1664525U + 1013904223U;
            const double hiss = static_cast<double>(noise >> 16) / 65536.0 - 0.5;
            block[2 * i] = static_cast<short>(gain * (9000 * std::sin(phase) + 600 * hiss));
            block[2 * i + 1] = static_cast<short>(gain * (9000 * std::sin(phase * 1.5) - 600 * hiss));
        }
        sf_writef_short(out, block.data(), chunk);
    }
    sf_close(out);
}

} // namespace tarnveil::bench
