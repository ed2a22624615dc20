// Opening a file in the player, on a file holding the input bytes: the same
// steps the player takes when it is given a file name (the header through
// libsndfile, then the reader thread decoding ahead into the feed), then a
// seek and a read from there, without a sound device. Whatever the file, it is
// either refused with a Failure or decoded without a crash, without reading or
// writing out of bounds, and with a length that fits the player's milliseconds.

#include "components/file_reader.h"
#include "components/sound_file.h"
#include "fuzz_support.h"
#include "platform/failure.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>

using tarnveil::fuzz::expect;

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
    return 0;
}
