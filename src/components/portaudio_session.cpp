#include "components/portaudio_session.h"

#include "platform/failure.h"

#include <fcntl.h>
#include <unistd.h>

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

void initialise()
{
    // Should PortAudio fail to start, no list may be left naming devices it no
    // longer knows.
    deviceList.clear();
    PaError result = paNoError;
    {
        QuietStderr quiet;
        result = Pa_Initialize();
    }
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
