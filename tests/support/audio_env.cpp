#include "support/audio_env.h"

#include "components/wave_out.h"
#include "support/wav_fixtures.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tarnveil::test {

namespace {
std::filesystem::path& captureFilePath()
{
    static std::filesystem::path path;
    return path;
}

std::filesystem::path configFile()
{
    return captureFilePath().parent_path() / "asound.conf";
}

int deviceNumberNamed(const QString& name)
{
    WaveOut devices;
    for (int32_t i = 0; i < devices.DeviceCount(); ++i) {
        if (devices.DeviceName(i) == name)
            return i;
    }
    return -1;
}
} // namespace

void prepareAudioEnvironment()
{
    // One folder per test process, so parallel test programs never share a capture file.
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnveil-audio-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create the audio test folder");
        return std::filesystem::path(pattern);
    }();
    captureFilePath() = folder / "capture.raw";
    const auto config = configFile();
    std::ofstream out(config);
    out << "pcm." << CaptureDeviceName << " {\n"
        << "  type file\n"
        << "  slave.pcm \"null\"\n"
        << "  file \"" << captureFilePath().string() << "\"\n"
        << "  format \"raw\"\n"
        << "}\n"
        << "pcm." << PacedCaptureDeviceName << " {\n"
        << "  type file\n"
        << "  slave.pcm \"pulse\"\n"
        << "  file \"" << captureFilePath().string() << "\"\n"
        << "  format \"raw\"\n"
        << "}\n";
    out.close();
    const std::string path = "/usr/share/alsa/alsa.conf:" + config.string();
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
}

void addOutputDevice(const std::string& name)
{
    std::ofstream(configFile(), std::ios::app) << "pcm." << name << " {\n  type null\n}\n";
}

BrokenAudioConfiguration::BrokenAudioConfiguration()
{
    std::ifstream in(configFile(), std::ios::binary);
    saved_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::ofstream(configFile(), std::ios::app) << "pcm.tarnveil_broken { type\n";
}

BrokenAudioConfiguration::~BrokenAudioConfiguration()
{
    std::ofstream(configFile(), std::ios::binary | std::ios::trunc) << saved_;
}

const std::filesystem::path& captureFile()
{
    return captureFilePath();
}

std::vector<char> readCapture()
{
    std::ifstream in(captureFile(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

HeardFrames heardPositionFrames()
{
    const std::vector<char> bytes = readCapture();
    HeardFrames result;
    const size_t count = bytes.size() / (2 * sizeof(float));
    for (size_t i = 0; i < count; ++i) {
        float sample[2];
        std::memcpy(sample, bytes.data() + i * sizeof sample, sizeof sample);
        const auto left = static_cast<int16_t>(std::lround(sample[0] * 32768.0F));
        const auto right = static_cast<int16_t>(std::lround(sample[1] * 32768.0F));
        if (left == 0 && right == 0)
            continue;
        const int64_t frame = frameOf(left, right);
        if (result.frames == 0)
            result.first = frame;
        result.last = frame;
        ++result.frames;
    }
    return result;
}

int captureDeviceNumber()
{
    return deviceNumberNamed(QString::fromLatin1(CaptureDeviceName));
}

int pacedCaptureDeviceNumber()
{
    return soundServerRunning() ? deviceNumberNamed(QString::fromLatin1(PacedCaptureDeviceName)) : -1;
}

int pulseDeviceNumber()
{
    const int pulse = deviceNumberNamed(QStringLiteral("pulse"));
    return pulse >= 0 ? pulse : deviceNumberNamed(QStringLiteral("default"));
}

bool soundServerRunning()
{
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

} // namespace tarnveil::test
