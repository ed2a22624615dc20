#include "options.h"

#include <sndfile.h>

#include <charconv>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>

namespace tarnveil::logger {

namespace {

constexpr auto OneDay = std::chrono::seconds(86400);

int parseInt(std::string_view option, std::string_view text, int low, int high)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        throw UsageError(std::string(option) + " wants a whole number from " + std::to_string(low) + " to "
                         + std::to_string(high) + ", not \"" + std::string(text) + "\"");
    }
    return value;
}

std::chrono::seconds parseSpan(std::string_view option, std::string_view text, std::chrono::seconds low,
                               std::chrono::seconds high)
{
    std::chrono::seconds value;
    try {
        value = parseDuration(text);
    } catch (const UsageError& error) {
        throw UsageError(std::string(option) + ": " + error.what());
    }
    if (value < low || value > high) {
        throw UsageError(std::string(option) + " must lie between " + std::to_string(low.count()) + " s and "
                         + std::to_string(high.count()) + " s");
    }
    return value;
}

// Refuses settings whose files would pass the size the console can read.
void checkFileSize(const Options& options, std::chrono::seconds longest, std::string_view option)
{
    const int64_t frames = longest.count() * int64_t{options.sampleRate};
    const int64_t bytes = dataBytes(options.format, options.channels, frames) + 64;
    if (bytes > MaxFileBytes) {
        throw UsageError(std::string(option) + " is too long for this rate, format and channel count: one file "
                         "would pass 2 GiB, more than a WAV header's signed size fields can describe");
    }
}

void checkFormat(const Options& options)
{
    const FormatInfo& info = formatInfo(options.format);
    SF_INFO sf{};
    sf.samplerate = options.sampleRate;
    sf.channels = options.channels;
    sf.format = SF_FORMAT_WAV | info.sndfileSubtype;
    if (options.format == SampleFormat::Gsm610 && options.channels != 1)
        throw UsageError("GSM 6.10 is recorded in mono only: use --channels 1");
    if (sf_format_check(&sf) == 0)
        throw UsageError("libsndfile cannot write " + std::string(info.description) + " WAV files at this rate");
}

} // namespace

std::chrono::seconds parseDuration(std::string_view text)
{
    if (text.empty())
        throw UsageError("empty duration");
    int64_t unit = 1;
    switch (text.back()) {
    case 's': unit = 1; text.remove_suffix(1); break;
    case 'm': unit = 60; text.remove_suffix(1); break;
    case 'h': unit = 3600; text.remove_suffix(1); break;
    default: break;
    }
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0
        || value > int64_t{366} * 86400 / unit) {
        throw UsageError("a duration is a whole number with s, m or h after it (\"10s\", \"5m\", \"1h\")");
    }
    return std::chrono::seconds(value * unit);
}

std::time_t parseLocalTime(std::string_view text)
{
    std::tm tm{};
    char tail = 0;
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2d_%2d-%2d-%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, &tail)
            != 6
        || copy.size() != 19) {
        throw UsageError("a time is written like the file names: YYYY-MM-DD_HH-MM-SS, not \"" + copy + "\"");
    }
    const std::tm wanted = tm;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    const std::time_t time = std::mktime(&tm);
    // mktime normalises 25:61 into the next day; a time it had to move was not a real one.
    if (time == std::time_t(-1) || tm.tm_mday != wanted.tm_mday || tm.tm_hour != wanted.tm_hour
        || tm.tm_min != wanted.tm_min || tm.tm_sec != wanted.tm_sec)
        throw UsageError("no such local time: \"" + copy + "\"");
    return time;
}

Options parseOptions(int argc, const char* const* argv)
{
    Options options;
    bool haveRoot = false;
    bool haveBacklogLength = false;
    bool haveBacklogEnd = false;

    using Handler = std::function<void(std::string_view option, std::string_view value)>;
    const std::map<std::string_view, Handler> withValue = {
        {"--root", [&](auto, auto value) { options.root = std::string(value); haveRoot = !value.empty(); }},
        {"--rate", [&](auto option, auto value) { options.sampleRate = parseInt(option, value, 1000, 384000); }},
        {"--channels", [&](auto option, auto value) { options.channels = parseInt(option, value, 1, 8); }},
        {"--format",
         [&](auto, auto value) {
             const auto format = formatNamed(value);
             if (!format)
                 throw UsageError("unknown --format \"" + std::string(value) + "\" (see --help)");
             options.format = *format;
         }},
        {"--period",
         [&](auto option, auto value) { options.period = parseSpan(option, value, std::chrono::seconds(1), OneDay); }},
        {"--stale",
         [&](auto, auto value) {
             if (value == "zero")
                 options.stale = StaleSizes::Zero;
             else if (value == "initial")
                 options.stale = StaleSizes::Initial;
             else
                 throw UsageError("--stale is \"zero\" or \"initial\"");
         }},
        {"--duration",
         [&](auto option, auto value) {
             options.duration = parseSpan(option, value, std::chrono::seconds(1), OneDay * 366);
         }},
        {"--backlog", [&](auto option, auto value) { options.backlogCount = parseInt(option, value, 1, 10000); }},
        {"--backlog-length",
         [&](auto option, auto value) {
             options.backlogLength = parseSpan(option, value, std::chrono::seconds(1), OneDay);
             haveBacklogLength = true;
         }},
        {"--backlog-end",
         [&](auto, auto value) {
             options.backlogEnd = parseLocalTime(value);
             haveBacklogEnd = true;
         }},
    };

    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return options;
        }
        if (arg == "--no-align") {
            options.align = false;
            continue;
        }
        std::string_view value;
        bool inline_value = false;
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            inline_value = true;
        }
        const auto handler = withValue.find(arg);
        if (handler == withValue.end())
            throw UsageError("unknown option \"" + std::string(arg) + "\" (see --help)");
        if (!inline_value) {
            if (i + 1 >= argc)
                throw UsageError(std::string(arg) + " needs a value");
            value = argv[++i];
        }
        handler->second(arg, value);
    }

    if (!haveRoot)
        throw UsageError("--root DIR is required: the logger drive's root folder");
    if (options.backlogCount == 0 && (haveBacklogLength || haveBacklogEnd))
        throw UsageError("--backlog-length and --backlog-end go with --backlog N");
    if (options.backlogCount > 0 && options.duration)
        throw UsageError("--duration applies to live recording, not to --backlog");
    checkFormat(options);
    if (options.backlogCount > 0)
        checkFileSize(options, options.backlogLength, "--backlog-length");
    else
        checkFileSize(options, options.period, "--period");
    return options;
}

std::string usageText()
{
    std::ostringstream out;
    out << "Usage: tarnveil-logger --root DIR [options]\n"
           "\n"
           "Records a synthetic broadcast log the way the logger the Tarnveil console is\n"
           "made for does: one WAV file per period in DIR/logger/logs, named by the local\n"
           "time it starts (YYYY-MM-DD_HH-MM-SS.wav, so names sort by time), with the path\n"
           "of the file being recorded in DIR/logger/CurFile.\n"
           "\n"
           "Options:\n"
           "  --root DIR            the logger drive's root folder (required); logger/logs is\n"
           "                        created when missing\n"
           "  --rate HZ             sample rate, 1000 to 384000 (default 44100)\n"
           "  --channels N          channels, 1 to 8 (default 2)\n"
           "  --format NAME         sample format (default pcm16), one of:\n";
    for (const SampleFormat format : AllFormats) {
        const FormatInfo& info = formatInfo(format);
        out << "                          " << info.name << std::string(8 - info.name.size(), ' ') << info.description
            << "\n";
    }
    out << "  --period D            length of each file (default 1h); D is a number with s, m\n"
           "                        or h after it: 10s, 5m, 1h\n"
           "  --no-align            start periods when recording starts; by default they\n"
           "                        start on multiples of the period since local midnight\n"
           "                        (on the hour for 1h), as a broadcast logger's do\n"
           "  --stale zero|initial  what the header's RIFF and data sizes hold while a file is\n"
           "                        recorded: 0, or the sizes of an empty file (default);\n"
           "                        a finished file always gets its true sizes\n"
           "  --duration D          stop after recording D (default: until SIGINT/SIGTERM)\n"
           "  --backlog N           instead of recording live, write N finished files at full\n"
           "                        speed, back to back, then exit; existing files are kept\n"
           "  --backlog-length D    length of each backlog file (default 1h)\n"
           "  --backlog-end TIME    when the last backlog file ends, local time written\n"
           "                        YYYY-MM-DD_HH-MM-SS (default: the start of the current\n"
           "                        period)\n"
           "  -h, --help            show this text\n"
           "\n"
           "Live recording starts at the next whole second and writes in real time. SIGINT\n"
           "or SIGTERM stops it: the file being recorded gets its true sizes and CurFile is\n"
           "emptied (length 0), so no finished file is taken for a live one.\n"
           "\n"
           "CurFile is one 128-byte record: a 16-bit little-endian length n, then n bytes\n"
           "\":\\logger\\logs\\NAME.wav\" (no drive letter), then zeros. It is replaced\n"
           "atomically (a temporary file renamed over it), so a reader, also one on a\n"
           "network share, sees the old record or the new one, never a partial one.\n"
           "\n"
           "While a file is recorded, the sizes in its header stay stale and samples are\n"
           "appended with write(2); a PCM, float, A-law or mu-law file has a 46-byte header\n"
           "(18-byte format chunk, data sizes at offsets 4 and 42). GSM files are written\n"
           "through libsndfile, whose header update is off, with the sizes set stale after\n"
           "it writes the header.\n"
           "\n"
           "The sound, the same in every channel, tells the time by ear and to a program:\n"
           "  - a tone of 300 + 10 * M Hz at amplitude 0.1 throughout, M being the minute\n"
           "    of the hour (0 to 59): the pitch rises minute by minute;\n"
           "  - at the start of each second a click: 10 ms of a 2 kHz cosine, amplitude 0.5;\n"
           "  - at the start of each minute, instead of the click, a beep: 400 ms of a 1 kHz\n"
           "    cosine, amplitude 0.5.\n"
           "Each file starts on a whole second, so frame k * RATE of a file is a click or beep\n"
           "onset (the only samples above 0.3 in magnitude are in clicks and beeps), and the\n"
           "tone between them gives the minute.\n"
           "\n"
           "Exit status: 0 done, 1 failure while recording, 2 bad command line.\n";
    return out.str();
}

} // namespace tarnveil::logger
