#include "components/audio_stream.h"

#include "components/portaudio_session.h"
#include "platform/failure.h"

namespace tarnveil {

std::string portAudioText(PaError error)
{
    std::string text = Pa_GetErrorText(error);
    if (error == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        if (host != nullptr && host->errorText != nullptr && host->errorText[0] != '\0')
            text += std::string(" (") + host->errorText + ")";
    }
    return text;
}

namespace {
PaStreamParameters outputParameters(PaDeviceIndex device, const StreamFormat& format, double suggestedLatency)
{
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = format.channels;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = suggestedLatency;
    return parameters;
}
} // namespace

AudioStream::AudioStream(PaDeviceIndex device, const StreamFormat& format, unsigned long framesPerBuffer,
                         double suggestedLatency, PaStreamCallback* callback,
                         PaStreamFinishedCallback* finished, void* userData)
{
    const PaStreamParameters parameters = outputParameters(device, format, suggestedLatency);
    // The device's first fill comes from the callback, not silence: what
    // Play starts is heard at once rather than after a queue of nothing.
    PaError error = Pa_OpenStream(&stream_, nullptr, &parameters, format.sampleRate, framesPerBuffer,
                                  paPrimeOutputBuffersUsingStreamCallback, callback, userData);
    if (error != paNoError) {
        stream_ = nullptr;
        throw Failure(FailureCode::DeviceUnavailable, portAudioText(error));
    }
    error = Pa_SetStreamFinishedCallback(stream_, finished);
    if (error != paNoError) {
        Pa_CloseStream(stream_);
        throw Failure(FailureCode::DeviceUnavailable, portAudioText(error));
    }
}

AudioStream::~AudioStream()
{
    abort();
    Pa_CloseStream(stream_);
}

void AudioStream::start()
{
    const PaError error = Pa_StartStream(stream_);
    if (error != paNoError)
        throw Failure(FailureCode::DeviceIoError, portAudioText(error));
    running_ = true;
}

void AudioStream::stop()
{
    if (running_)
        Pa_StopStream(stream_);
    running_ = false;
}

void AudioStream::abort()
{
    if (running_)
        Pa_AbortStream(stream_);
    running_ = false;
}

bool AudioStream::isActive() const
{
    return Pa_IsStreamActive(stream_) == 1;
}

double AudioStream::outputLatency() const
{
    const PaStreamInfo* info = Pa_GetStreamInfo(stream_);
    return info != nullptr ? info->outputLatency : 0.0;
}

bool AudioStream::supports(PaDeviceIndex device, const StreamFormat& format, double suggestedLatency,
                           std::string& why)
{
    const PaStreamParameters parameters = outputParameters(device, format, suggestedLatency);
    const PaError error = Pa_IsFormatSupported(nullptr, &parameters, format.sampleRate);
    if (error == paFormatIsSupported)
        return true;
    why = portAudioText(error);
    return false;
}

} // namespace tarnveil
