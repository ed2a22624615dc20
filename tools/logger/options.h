#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "wave_format.h"

namespace tarnveil::logger {

// What the size fields of a file hold while it is being recorded.
enum class StaleSizes {
    Zero,    // both 0, as loggers that never touch the header until the end leave them
    Initial, // the sizes of an empty data chunk, as written when the file was created
};

struct Options {
    std::filesystem::path root; // the logger's drive root: holds logger/logs and logger/CurFile
    int sampleRate = 44100;
    int channels = 2;
    SampleFormat format = SampleFormat::Pcm16;
    std::chrono::seconds period{3600};
    bool align = true; // periods start on multiples of the period since local midnight
    StaleSizes stale = StaleSizes::Initial;
    std::optional<std::chrono::seconds> duration; // live recording stops after this

    int backlogCount = 0; // > 0: write this many finished files at full speed, then exit
    std::chrono::seconds backlogLength{3600};
    std::optional<std::time_t> backlogEnd; // when the last backlog file ends

    bool help = false;
};

// A command line that cannot be obeyed; the message names the offending option.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Options parseOptions(int argc, const char* const* argv);
std::string usageText();

// "90", "90s", "5m", "2h" -> seconds. Throws UsageError.
std::chrono::seconds parseDuration(std::string_view text);

// "YYYY-MM-DD_HH-MM-SS" (the file-name form, local time) -> time. Throws UsageError.
std::time_t parseLocalTime(std::string_view text);

} // namespace tarnveil::logger
