#include "components/portaudio_session.h"

#include "platform/failure.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <string_view>

namespace tarnveil {

namespace {
int sessionCount = 0;
std::vector<PaDeviceIndex> deviceList;

bool isAliasEntry(std::string_view name)
{
    static constexpr std::array<std::string_view, 20> aliases = {
        "front", "rear", "center_lfe", "side", "surround", "iec958", "spdif", "hdmi",
        "dmix", "dsnoop", "sysdefault", "lavrate", "samplerate", "speexrate", "upmix",
        "vdownmix", "jack", "oss", "null", "modem"};
    for (std::string_view alias : aliases) {
        if (name.starts_with(alias))
            return true;
    }
    return false;
}

void scanDevices()
{
    deviceList.clear();
    const PaDeviceIndex systemDefault = Pa_GetDefaultOutputDevice();
    if (systemDefault >= 0)
        deviceList.push_back(systemDefault);
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (i == systemDefault || info == nullptr || info->maxOutputChannels <= 0)
            continue;
        if (isAliasEntry(info->name))
            continue;
        deviceList.push_back(i);
    }
}

void initialise()
{
    PaError result = paNoError;
    {
        QuietStderr quiet;
        result = Pa_Initialize();
    }
    if (result != paNoError)
        throw Failure(FailureCode::DeviceUnavailable, Pa_GetErrorText(result));
    scanDevices();
}
} // namespace

QuietStderr::QuietStderr() : saved_(dup(STDERR_FILENO))
{
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

QuietStderr::~QuietStderr()
{
    if (saved_ >= 0) {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
}

PortAudioSession::PortAudioSession()
{
    if (sessionCount == 0)
        initialise();
    ++sessionCount;
}

PortAudioSession::~PortAudioSession()
{
    if (--sessionCount == 0) {
        deviceList.clear();
        Pa_Terminate();
    }
}

const std::vector<PaDeviceIndex>& PortAudioSession::outputDevices() const
{
    return deviceList;
}

void PortAudioSession::rescan()
{
    // PortAudio only re-reads the host's devices on a fresh initialisation.
    Pa_Terminate();
    initialise();
}

} // namespace tarnveil
