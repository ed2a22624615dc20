#include "components/wave_out.h"

#include "platform/failure.h"

namespace tarnveil {

WaveOut::WaveOut() : session_(PortAudioSession::Scan::Fresh) {}

int32_t WaveOut::DeviceCount() const
{
    return static_cast<int32_t>(session_.outputDevices().size());
}

QString WaveOut::DeviceName(int32_t device) const
{
    const auto& devices = session_.outputDevices();
    if (device < 0 || static_cast<size_t>(device) >= devices.size())
        throw Failure(FailureCode::InvalidIndex, "sound card " + std::to_string(device));
    const PaDeviceInfo* info = Pa_GetDeviceInfo(devices[static_cast<size_t>(device)]);
    if (info == nullptr)
        throw Failure(FailureCode::DeviceUnavailable, "sound card " + std::to_string(device));
    return QString::fromLocal8Bit(info->name);
}

} // namespace tarnveil
