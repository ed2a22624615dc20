#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnveil::test {

// Name of the output device that writes every sample it is given to captureFile().
// It is not paced: it plays as fast as it is fed.
inline constexpr const char* CaptureDeviceName = "tarnveil_capture";
// The same, but paced by the sound server's null sink: it takes samples in real
// time, as a sound card does, for playback that keeps up with a recording.
inline constexpr const char* PacedCaptureDeviceName = "tarnveil_paced_capture";

// Must run before PortAudio is first initialised in the process: points ALSA at a
// private configuration that defines the capture device. test_main calls it.
void prepareAudioEnvironment();

const std::filesystem::path& captureFile();

// While it lives, the private configuration cannot be parsed, so PortAudio
// will not start; the configuration is restored afterwards.
class BrokenAudioConfiguration {
public:
    BrokenAudioConfiguration();
    ~BrokenAudioConfiguration();
    BrokenAudioConfiguration(const BrokenAudioConfiguration&) = delete;
    BrokenAudioConfiguration& operator=(const BrokenAudioConfiguration&) = delete;

private:
    std::string saved_;
};

// Adds an output device named `name` (ALSA's null device, which takes every
// sample and keeps none) to the private configuration, behind those there. The
// next fresh look at the devices lists it, as it would a card plugged in.
void addOutputDevice(const std::string& name);

// Bytes captured so far (the file is recreated each time the device is opened).
std::vector<char> readCapture();

// What the capture device heard of a log whose samples name their frame
// (wav_fixtures.h): the first and last frame heard and how many. The player
// hands the device 32-bit float stereo; silence around the playback is left out
// (frame 0 is silent by construction).
struct HeardFrames {
    int64_t first = -1;
    int64_t last = -1;
    int64_t frames = 0;
};
HeardFrames heardPositionFrames();

// Device number of the capture device in WaveOut's list, or -1 when PortAudio does
// not list it.
int captureDeviceNumber();
// Device number of the paced capture device, or -1 without it or without a sound server.
int pacedCaptureDeviceNumber();

// Device number of the sound server's device ("pulse", else "default"), or -1.
int pulseDeviceNumber();

// True when a PulseAudio server answers; tests that need real-speed playback skip otherwise.
bool soundServerRunning();

} // namespace tarnveil::test
