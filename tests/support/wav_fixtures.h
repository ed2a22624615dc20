#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnveil::test {

// 16-bit stereo samples that name their own frame: left holds the frame number's
// low 15 bits, right the next 15 bits. A played stretch can then be checked
// sample for sample, and no slip can hide.
int16_t positionLeft(int64_t frame);
int16_t positionRight(int64_t frame);
int64_t frameOf(int16_t left, int16_t right);

// A whole file decoded by libsndfile, samples as float.
struct DecodedLog {
    int sampleRate = 0;
    int channels = 0;
    int format = 0; // libsndfile's SF_FORMAT_* word
    int64_t frames = 0;
    std::vector<float> samples; // interleaved
    float at(int64_t frame, int channel = 0) const { return samples[size_t(frame * channels + channel)]; }
};
// Throws when libsndfile cannot read the file.
DecodedLog decodeLog(const std::filesystem::path& file);

// Writes `frames` frames of positional samples (mono files carry only the low bits).
void writePositionWav(const std::filesystem::path& file, int sampleRate, int64_t frames,
                      int channels = 2, int sndfileFormat = 0 /* WAV PCM_16 */);

// Writes a 1 kHz tone (half scale) in any libsndfile WAV format.
void writeToneWav(const std::filesystem::path& file, int sampleRate, int channels,
                  double seconds, int sndfileFormat);

// Writes raw bytes to a file (for damaged-file corpora and hand-made headers).
void writeBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::filesystem::path& file);

// A canonical 44-byte-header PCM WAV image (16-byte format chunk) around `data`.
std::vector<uint8_t> pcmWavImage(int sampleRate, int channels, int bitsPerSample,
                                 const std::vector<uint8_t>& data);

} // namespace tarnveil::test
