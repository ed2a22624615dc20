// Opening a file in the player, on a file holding the input bytes: the same
// steps the player takes when it is given a file name (the header through
// libsndfile, then the reader thread decoding ahead into the feed), then a
// seek and a read from there, without a sound device. Whatever the file, it is
// either refused with a Failure or decoded without a crash, without reading or
// writing out of bounds, and with a length that fits the player's milliseconds.

#include "components/file_reader.h"
#include "components/log_growth.h"
#include "components/sound_file.h"
#include "fuzz_support.h"
#include "platform/failure.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <vector>

using tarnveil::fuzz::expect;

namespace {

// The same bytes as the newest log of a logger that names no live log: read as
// one that may still grow, to where its decoder runs dry, and looked at again.
void readAsNewestLog(const std::filesystem::path& file)
{
    try {
        tarnveil::SoundFile sound(file, tarnveil::SoundFile::Growth::MayGrow);
        std::vector<float> block(static_cast<size_t>(1024 * sound.channels()));
        int64_t position = 0;
        for (int64_t got = 1; got > 0; position += got)
            got = sound.read(block.data(), 1024);
        if (tarnveil::LogGrowth* growth = sound.growing()) {
            growth->refresh();
            expect(growth->readableFrom(position, 1024) >= 0, "negative frames readable");
            growth->settle();
        }
    } catch (const tarnveil::Failure&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::filesystem::path file = tarnveil::fuzz::scratchFolder() / "log.wav";
    tarnveil::fuzz::writeFile(file, data, size);

    std::unique_ptr<tarnveil::SoundFile> sound;
    try {
        sound = std::make_unique<tarnveil::SoundFile>(file);
    } catch (const tarnveil::Failure&) {
        return 0; // refused: the console says the file is damaged
    }
    expect(sound->channels() >= 1 && sound->sampleRate() >= 1 && sound->frames() >= 0, "accepted a file without audio");
    const int64_t lengthMs = tarnveil::framesToMs(sound->frames(), sound->sampleRate());
    expect(lengthMs >= 0 && lengthMs <= std::numeric_limits<int32_t>::max(), "length does not fit in milliseconds");

    // What the player does on a new file name: decode ahead in the file's own
    // format (mono or stereo), from the start.
    const tarnveil::StreamFormat tentative{std::min(sound->channels(), 2), sound->sampleRate()};
    uint64_t generation = 1;
    tarnveil::FileReader reader(*sound, tentative, 0, generation);
    reader.waitUntilPrimed(generation, std::chrono::seconds(2));

    // A seek to the middle, as the slider or a replay does before Play.
    const int64_t middle = tarnveil::msToFrames(lengthMs / 2, sound->sampleRate());
    reader.seek(std::min(middle, sound->frames()), ++generation);
    reader.waitUntilPrimed(generation, std::chrono::seconds(2));
    readAsNewestLog(file);
    return 0;
}
