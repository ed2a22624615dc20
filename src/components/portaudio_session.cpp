#include "components/portaudio_session.h"

#include "platform/failure.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <array>
#include <string_view>
#include <thread>

namespace tarnveil {

namespace {
int sessionCount = 0;
int openStreams = 0;
bool initialised = false;
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

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}
void ignoreJackMessage(const char*) {}

// PortAudio's probes of ALSA and JACK report every card and server that is not
// there: no news for the operator, who gets a failure with its reason instead.
// They are quietened in the libraries themselves, not by closing the process's
// stderr, which would swallow what the other threads write meanwhile.
void quietenSoundLibraries()
{
    snd_lib_error_set_handler(&ignoreAlsaError);
    jack_set_error_function(&ignoreJackMessage);
    jack_set_info_function(&ignoreJackMessage);
}

void initialise()
{
    // Should PortAudio fail to start, no list may be left naming devices it no
    // longer knows.
    deviceList.clear();
    quietenSoundLibraries();
    const PaError result = Pa_Initialize();
    if (result != paNoError)
        throw Failure(FailureCode::DeviceUnavailable, Pa_GetErrorText(result));
    initialised = true;
    scanDevices();
}

void terminate()
{
    deviceList.clear();
    if (initialised)
        Pa_Terminate();
    initialised = false;
}

// The warm-up's probe. Everything above is touched by it alone until the GUI
// thread has joined it (finishWarmUp), which orders its writes before any read.
// A program that ends through exit() (Qt does so when the display goes away)
// skips the warm-up's owner: the probe is joined here instead, before the
// device list it writes is destroyed, rather than ending in std::terminate.
struct WarmUpThread {
    std::thread thread;
    ~WarmUpThread()
    {
        if (thread.joinable())
            thread.join();
    }
};
WarmUpThread warmUp;

void finishWarmUp()
{
    if (warmUp.thread.joinable())
        warmUp.thread.join();
}

void releaseSession()
{
    if (--sessionCount == 0)
        terminate();
}
} // namespace

PortAudioSession::PortAudioSession(Scan scan)
{
    finishWarmUp();
    // Not initialised also after a rescan that failed: try again.
    if (!initialised)
        initialise();
    else if (scan == Scan::Fresh)
        rescan();
    ++sessionCount;
}

PortAudioSession::~PortAudioSession()
{
    releaseSession();
}

const std::vector<PaDeviceIndex>& PortAudioSession::outputDevices() const
{
    return deviceList;
}

void PortAudioSession::rescan()
{
    if (openStreams > 0)
        return;
    terminate();
    initialise();
}

PortAudioWarmUp::PortAudioWarmUp()
{
    finishWarmUp();
    ++sessionCount;
    if (initialised)
        return;
    warmUp.thread = std::thread([] {
        try {
            initialise();
        } catch (const std::exception&) {
            // Left uninitialised: the first session tries again and reports it.
        }
    });
}

PortAudioWarmUp::~PortAudioWarmUp()
{
    finishWarmUp();
    releaseSession();
}

OpenStreamMark::OpenStreamMark()
{
    ++openStreams;
}

OpenStreamMark::~OpenStreamMark()
{
    --openStreams;
}

} // namespace tarnveil
