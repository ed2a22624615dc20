#include "loudness/log_measurement.h"

#include "components/log_growth.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tarnveil {

namespace {
// About a second of stereo 48 kHz per read: few calls on the drive, and a
// cancel is seen within a few milliseconds of work.
constexpr int64_t ChunkSamples = 96000;
} // namespace

LogMeasurement::LogMeasurement(const std::filesystem::path& file, bool live)
    : file_(file, live ? SoundFile::Growth::Growing : SoundFile::Growth::Fixed),
      meter_(file_.channels(), file_.sampleRate(), file_.channelMap()),
      live_(live)
{
}

bool LogMeasurement::readOn(MeasureControl& control)
{
    // Samples of 16 bits or fewer are read as they are: libsndfile then only
    // copies them, and libebur128 scales them as it filters.
    if (file_.sixteenBitsOrFewer())
        return readOnAs<int16_t>(control);
    return readOnAs<float>(control);
}

template <typename Sample>
bool LogMeasurement::readOnAs(MeasureControl& control)
{
    const int64_t chunkFrames = std::max<int64_t>(1, ChunkSamples / file_.channels());
    std::vector<Sample> buffer(static_cast<size_t>(chunkFrames * file_.channels()));
    if (LogGrowth* growth = file_.growing()) {
        // What the logger recorded since the last look: nothing else looks for this reader.
        const DriveCall call(control);
        growth->refresh();
    }
    while (!control.cancelled.load(std::memory_order_relaxed)) {
        int64_t got = 0;
        {
            const DriveCall call(control);
            got = file_.read(buffer.data(), chunkFrames);
        }
        if (got <= 0)
            return true;
        meter_.add(buffer.data(), got);
    }
    return false;
}

LoudnessProfile LogMeasurement::profile()
{
    if (!live_)
        meter_.finish();
    return meter_.profile();
}

} // namespace tarnveil
