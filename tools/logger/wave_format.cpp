#include "wave_format.h"

#include <sndfile.h>

namespace tarnveil::logger {

namespace {
constexpr FormatInfo Formats[] = {
    {SampleFormat::Pcm8, "pcm8", "8-bit unsigned PCM", 1, 8, SF_FORMAT_PCM_U8},
    {SampleFormat::Pcm16, "pcm16", "16-bit PCM", 1, 16, SF_FORMAT_PCM_16},
    {SampleFormat::Pcm24, "pcm24", "24-bit PCM", 1, 24, SF_FORMAT_PCM_24},
    {SampleFormat::Pcm32, "pcm32", "32-bit PCM", 1, 32, SF_FORMAT_PCM_32},
    {SampleFormat::Float, "float", "32-bit IEEE float", 3, 32, SF_FORMAT_FLOAT},
    {SampleFormat::ALaw, "alaw", "G.711 A-law", 6, 8, SF_FORMAT_ALAW},
    {SampleFormat::MuLaw, "ulaw", "G.711 mu-law", 7, 8, SF_FORMAT_ULAW},
    {SampleFormat::Gsm610, "gsm", "GSM 6.10 (mono)", 49, 0, SF_FORMAT_GSM610},
};
} // namespace

const FormatInfo& formatInfo(SampleFormat format)
{
    for (const auto& info : Formats) {
        if (info.format == format)
            return info;
    }
    return Formats[1];
}

std::optional<SampleFormat> formatNamed(std::string_view name)
{
    for (const auto& info : Formats) {
        if (info.name == name)
            return info.format;
    }
    return std::nullopt;
}

int64_t dataBytes(SampleFormat format, int channels, int64_t frames)
{
    if (format == SampleFormat::Gsm610)
        return (frames + GsmFramesPerBlock - 1) / GsmFramesPerBlock * GsmBytesPerBlock;
    return frames * channels * (formatInfo(format).bitsPerSample / 8);
}

} // namespace tarnveil::logger
