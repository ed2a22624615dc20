#pragma once

#include "logger_process.h"
#include "support/wav_fixtures.h"

#include <QStringList>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnveil::test {

// The simulator under test, as a subprocess.
struct LoggerRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};
LoggerRun runLogger(const QStringList& arguments);
std::unique_ptr<LoggerProcess> startLogger(const QStringList& arguments);

// Polls `condition` every 20 ms until it holds or `limit` has passed.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// The record in <root>/logger/CurFile: n and the n bytes after it; nullopt when absent.
std::optional<std::string> readCurFileText(const std::filesystem::path& root);

// The two size fields of a RIFF WAVE file, found by walking its chunks.
struct HeaderSizes {
    uint32_t riff = 0;
    uint32_t data = 0;
    size_t dataOffset = 0; // where the samples start
};
HeaderSizes headerSizes(const std::filesystem::path& file);

// The capture device takes samples faster than any reader supplies them, so the
// player fills its waits with silence: frames silent in every channel are left
// out wherever heard and recorded samples are compared.
//
// The sounding frames of the captured stream, `channels` samples each.
std::vector<float> soundingHeard(int channels);
// The sounding frames of `logs` joined end to end, each up to its `frames`.
std::vector<float> soundingRecorded(const std::vector<DecodedLog>& logs, int channels);

// The clicks and beeps of the logger's time signal in channel 0.
struct Mark {
    int64_t frame = 0;  // onset
    int64_t length = 0; // frames from onset to the last loud sample
    bool beep = false;  // a minute beep (long), else a second click
};
std::vector<Mark> findMarks(const DecodedLog& log);

// Frequency of the background tone between `from` and `to` (frames, channel 0),
// from its zero crossings.
double toneHz(const DecodedLog& log, int64_t from, int64_t to);

} // namespace tarnveil::test
