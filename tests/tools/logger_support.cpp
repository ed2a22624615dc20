#include "logger_support.h"

#include "support/audio_env.h"
#include "support/wav_fixtures.h"


#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tarnveil::test {

namespace {
uint32_t get32(const std::vector<uint8_t>& bytes, size_t at)
{
    return uint32_t{bytes.at(at)} | uint32_t{bytes.at(at + 1)} << 8 | uint32_t{bytes.at(at + 2)} << 16
           | uint32_t{bytes.at(at + 3)} << 24;
}
} // namespace

LoggerRun runLogger(const QStringList& arguments)
{
    LoggerProcess process(arguments);
    // Generous: a sanitizer build writes a backlog far slower.
    if (!process.waitForFinished(240000))
        throw std::runtime_error("the logger did not finish: " + arguments.join(' ').toStdString());
    LoggerRun run;
    run.exitCode = process.exitCode();
    run.out = process.standardOutput();
    run.err = process.standardError();
    return run;
}

std::unique_ptr<LoggerProcess> startLogger(const QStringList& arguments)
{
    return std::make_unique<LoggerProcess>(arguments);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::optional<std::string> readCurFileText(const std::filesystem::path& root)
{
    const auto file = root / "logger" / "CurFile";
    if (!std::filesystem::exists(file))
        return std::nullopt;
    const auto bytes = readBytes(file);
    if (bytes.size() < 2)
        throw std::runtime_error("CurFile shorter than its length field");
    const size_t n = bytes[0] | size_t{bytes[1]} << 8;
    if (bytes.size() < 2 + n)
        throw std::runtime_error("CurFile shorter than its length says");
    return std::string(bytes.begin() + 2, bytes.begin() + 2 + static_cast<std::ptrdiff_t>(n));
}

HeaderSizes headerSizes(const std::filesystem::path& file)
{
    std::vector<uint8_t> bytes(512);
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(&bytes[8], "WAVE", 4) != 0)
        throw std::runtime_error("not a RIFF WAVE file: " + file.string());
    HeaderSizes sizes;
    sizes.riff = get32(bytes, 4);
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = get32(bytes, at + 4);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            sizes.data = size;
            sizes.dataOffset = at + 8;
            return sizes;
        }
        at += 8 + size + (size & 1);
    }
    throw std::runtime_error("no data chunk in the first 512 bytes of " + file.string());
}

namespace {

void appendSounding(std::vector<float>& into, const float* samples, int64_t frames, int channels)
{
    for (int64_t f = 0; f < frames; ++f) {
        const float* frame = samples + f * channels;
        if (std::any_of(frame, frame + channels, [](float sample) { return sample != 0.0F; }))
            into.insert(into.end(), frame, frame + channels);
    }
}

} // namespace

std::vector<float> soundingHeard(int channels)
{
    // The captured stream: 32-bit float frames, as the player hands them to the device.
    const std::vector<char> bytes = readCapture();
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    std::vector<float> heard;
    appendSounding(heard, samples.data(), static_cast<int64_t>(samples.size()) / channels, channels);
    return heard;
}

std::vector<float> soundingRecorded(const std::vector<DecodedLog>& logs, int channels)
{
    std::vector<float> recorded;
    for (const DecodedLog& log : logs)
        appendSounding(recorded, log.samples.data(), log.frames, channels);
    return recorded;
}

std::vector<Mark> findMarks(const DecodedLog& log)
{
    // Loud samples closer than 2 ms belong to one mark (the cosines pass zero).
    const int64_t gap = log.sampleRate / 500;
    std::vector<Mark> marks;
    int64_t last = -gap - 1;
    for (int64_t f = 0; f < log.frames; ++f) {
        if (std::fabs(log.at(f)) <= 0.3F)
            continue;
        if (f - last > gap)
            marks.push_back({f, 0, false});
        marks.back().length = f - marks.back().frame + 1;
        last = f;
    }
    for (auto& mark : marks)
        mark.beep = mark.length > log.sampleRate / 10;
    return marks;
}

double toneHz(const DecodedLog& log, int64_t from, int64_t to)
{
    int crossings = 0;
    bool positive = log.at(from) >= 0;
    int64_t first = -1;
    int64_t lastCrossing = -1;
    for (int64_t f = from + 1; f < to; ++f) {
        const bool now = log.at(f) >= 0;
        if (now != positive) {
            if (first < 0)
                first = f;
            else
                ++crossings;
            lastCrossing = f;
            positive = now;
        }
    }
    if (crossings == 0)
        return 0.0;
    // Half periods between the first and the last crossing.
    return crossings / 2.0 * log.sampleRate / static_cast<double>(lastCrossing - first);
}

} // namespace tarnveil::test
