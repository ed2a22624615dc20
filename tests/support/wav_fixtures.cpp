#include "support/wav_fixtures.h"

#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>
#include <stdexcept>

namespace tarnveil::test {

int16_t positionLeft(int64_t frame)
{
    return static_cast<int16_t>(frame & 0x7FFF);
}

int16_t positionRight(int64_t frame)
{
    return static_cast<int16_t>((frame >> 15) & 0x7FFF);
}

int64_t frameOf(int16_t left, int16_t right)
{
    return (static_cast<int64_t>(right) << 15) | static_cast<int64_t>(left);
}

namespace {
SNDFILE* openForWriting(const std::filesystem::path& file, int sampleRate, int channels, int format)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    SNDFILE* handle = sf_open(file.c_str(), SFM_WRITE, &info);
    if (handle == nullptr)
        throw std::runtime_error("cannot write " + file.string() + ": " + sf_strerror(nullptr));
    return handle;
}
} // namespace

void writePositionWav(const std::filesystem::path& file, int sampleRate, int64_t frames,
                      int channels, int sndfileFormat)
{
    const int format = sndfileFormat != 0 ? sndfileFormat : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* handle = openForWriting(file, sampleRate, channels, format);
    constexpr int64_t Block = 4096;
    std::vector<int16_t> samples(static_cast<size_t>(Block * channels));
    for (int64_t start = 0; start < frames; start += Block) {
        const int64_t count = std::min(Block, frames - start);
        for (int64_t i = 0; i < count; ++i) {
            const int64_t frame = start + i;
            for (int c = 0; c < channels; ++c)
                samples[static_cast<size_t>(i * channels + c)] = c % 2 == 0 ? positionLeft(frame) : positionRight(frame);
        }
        sf_writef_short(handle, samples.data(), count);
    }
    sf_close(handle);
}

void writeToneWav(const std::filesystem::path& file, int sampleRate, int channels, double seconds,
                  int sndfileFormat)
{
    SNDFILE* handle = openForWriting(file, sampleRate, channels, sndfileFormat);
    const auto frames = static_cast<int64_t>(seconds * sampleRate);
    std::vector<float> samples(static_cast<size_t>(channels));
    for (int64_t frame = 0; frame < frames; ++frame) {
        const float value = 0.5F * static_cast<float>(std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / sampleRate));
        std::fill(samples.begin(), samples.end(), value);
        sf_writef_float(handle, samples.data(), 1);
    }
    sf_close(handle);
}

void writeBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {
void put32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void put16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void putTag(std::vector<uint8_t>& out, const char* tag)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(tag[i]));
}
} // namespace

std::vector<uint8_t> pcmWavImage(int sampleRate, int channels, int bitsPerSample,
                                 const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> out;
    out.reserve(44 + data.size());
    const auto blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    putTag(out, "RIFF");
    put32(out, static_cast<uint32_t>(36 + data.size()));
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    put32(out, 16);
    put16(out, 1);
    put16(out, static_cast<uint16_t>(channels));
    put32(out, static_cast<uint32_t>(sampleRate));
    put32(out, static_cast<uint32_t>(sampleRate) * blockAlign);
    put16(out, blockAlign);
    put16(out, static_cast<uint16_t>(bitsPerSample));
    putTag(out, "data");
    put32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

DecodedLog decodeLog(const std::filesystem::path& file)
{
    SF_INFO info{};
    SNDFILE* sf = sf_open(file.c_str(), SFM_READ, &info);
    if (sf == nullptr)
        throw std::runtime_error("libsndfile cannot read " + file.string() + ": " + sf_strerror(nullptr));
    DecodedLog log;
    log.sampleRate = info.samplerate;
    log.channels = info.channels;
    log.format = info.format;
    log.samples.resize(static_cast<size_t>(info.frames * info.channels));
    log.frames = sf_readf_float(sf, log.samples.data(), info.frames);
    log.samples.resize(static_cast<size_t>(log.frames * info.channels));
    sf_close(sf);
    return log;
}

} // namespace tarnveil::test
