#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnveil::logger {

// Sample encodings the logger can record in. All but GSM get the canonical
// 46-byte header (18-byte format chunk) that the console's live fix-up expects;
// GSM files carry the header libsndfile writes for them (20-byte format chunk
// and a fact chunk), which the console does not rewrite.
enum class SampleFormat { Pcm8, Pcm16, Pcm24, Pcm32, Float, ALaw, MuLaw, Gsm610 };

struct FormatInfo {
    SampleFormat format;
    std::string_view name;        // as given to --format
    std::string_view description; // for --help
    uint16_t waveCode;            // format tag of the WAV format chunk
    uint16_t bitsPerSample;
    int sndfileSubtype;           // libsndfile's SF_FORMAT_* subtype
};

const FormatInfo& formatInfo(SampleFormat format);
std::optional<SampleFormat> formatNamed(std::string_view name);

// Every format, in the order --help lists them.
inline constexpr SampleFormat AllFormats[] = {
    SampleFormat::Pcm8, SampleFormat::Pcm16, SampleFormat::Pcm24, SampleFormat::Pcm32,
    SampleFormat::Float, SampleFormat::ALaw, SampleFormat::MuLaw, SampleFormat::Gsm610,
};

// GSM 6.10 in WAV packs 320 samples into each 65-byte block.
inline constexpr int GsmFramesPerBlock = 320;
inline constexpr int GsmBytesPerBlock = 65;

// Bytes the data chunk holds for `frames` frames (GSM counts its last block whole).
int64_t dataBytes(SampleFormat format, int channels, int64_t frames);

// The largest file the logger writes: the console reads the header's sizes as
// signed 32-bit numbers, so a bigger file could never be played whole.
inline constexpr int64_t MaxFileBytes = 0x7FFFFFFF;

} // namespace tarnveil::logger
