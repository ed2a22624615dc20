// The logger simulator, run as the demo and the benchmarks run it: a subprocess
// writing real files, which the tests read back with libsndfile and by hand.

#include "logger_support.h"

#include "support/temp_dir.h"
#include "support/wav_fixtures.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace tarnveil::test {
namespace {

// "YYYY-MM-DD_HH-MM-SS.wav": digits where the pattern has 9s.
bool isTimestampName(const std::string& name)
{
    const std::string pattern = "9999-99-99_99-99-99.wav";
    if (name.size() != pattern.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (pattern[i] == '9' ? !digit : name[i] != pattern[i])
            return false;
    }
    return true;
}

using namespace std::chrono_literals;
namespace fs = std::filesystem;

QString q(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

std::vector<std::string> logNames(const fs::path& root)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root / "logger" / "logs"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int minuteOf(const std::string& name)
{
    return std::stoi(name.substr(14, 2));
}

int secondOf(const std::string& name)
{
    return std::stoi(name.substr(17, 2));
}

uintmax_t sizeOf(const fs::path& file)
{
    std::error_code ignored;
    const auto size = fs::file_size(file, ignored);
    return ignored ? 0 : size;
}

// A finished file: its two sizes describe exactly what it holds.
void expectFinished(const fs::path& file)
{
    const HeaderSizes sizes = headerSizes(file);
    const auto length = fs::file_size(file);
    EXPECT_EQ(sizes.riff, length - 8) << file;
    EXPECT_EQ(sizes.data + (sizes.data & 1), length - sizes.dataOffset) << file;
}

// The signal of one file: a mark at every whole second of it (a beep on the
// minute), and between the marks the tone of the minute its name gives.
void expectTimeSignal(const fs::path& file, const DecodedLog& log)
{
    const std::string name = file.filename().string();
    const auto marks = findMarks(log);
    const int64_t seconds = (log.frames + log.sampleRate - 1) / log.sampleRate;
    ASSERT_EQ(marks.size(), size_t(seconds)) << name;
    for (int64_t s = 0; s < seconds; ++s) {
        const int secondOfMinute = int((secondOf(name) + s) % 60);
        EXPECT_EQ(marks[size_t(s)].frame, s * log.sampleRate) << name << " second " << s;
        EXPECT_EQ(marks[size_t(s)].beep, secondOfMinute == 0) << name << " second " << s;
        const int64_t from = s * log.sampleRate + log.sampleRate / 2;
        const int64_t to = std::min(log.frames, (s + 1) * log.sampleRate - log.sampleRate / 50);
        if (to - from < log.sampleRate / 5)
            continue;
        const int minute = (minuteOf(name) + (secondOf(name) + int(s)) / 60) % 60;
        EXPECT_NEAR(toneHz(log, from, to), 300 + 10 * minute, 4.0) << name << " second " << s;
    }
}

TEST(LoggerLive, WritesOneFinishedFilePerPeriodNamedByItsStartTime)
{
    TempDir root;
    const auto run = runLogger({"--root", q(root.path()), "--period", "1s", "--duration", "3s", "--rate", "8000",
                                "--channels", "1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const auto names = logNames(root.path());
    ASSERT_EQ(names.size(), 3U);
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_TRUE(isTimestampName(names[i]));
        if (i > 0) { // consecutive seconds (a minute may turn over between them)
            EXPECT_EQ(secondOf(names[i]), (secondOf(names[i - 1]) + 1) % 60);
        }
        const auto file = root / "logger" / "logs" / names[i];
        expectFinished(file);
        const auto log = decodeLog(file);
        EXPECT_EQ(log.frames, 8000);
        expectTimeSignal(file, log);
        EXPECT_NE(run.out.find("finished " + names[i]), std::string::npos);
    }
    // Stopped: no file is live any more, and the record keeps its full length.
    EXPECT_EQ(readCurFileText(root.path()), std::string());
    EXPECT_EQ(fs::file_size(root / "logger" / "CurFile"), 128U);
}

struct LiveCase {
    const char* format;
    int channels;
    const char* stale;
};

void PrintTo(const LiveCase& c, std::ostream* out)
{
    *out << c.format << " x" << c.channels << " stale " << c.stale;
}

class LoggerLiveHeader : public testing::TestWithParam<LiveCase> {};

TEST_P(LoggerLiveHeader, StaysStaleWhileRecordingAndIsFinishedOnRotationAndOnSigterm)
{
    const LiveCase c = GetParam();
    TempDir root;
    constexpr int Rate = 8000;
    auto logger = startLogger({"--root", q(root.path()), "--period", "2s", "--no-align", "--rate",
                               QString::number(Rate), "--channels", QString::number(c.channels), "--format", c.format,
                               "--stale", c.stale});
    const auto logs = root / "logger" / "logs";

    const auto liveName = [&] {
        const auto text = readCurFileText(root.path());
        return text && text->starts_with(":\\logger\\logs\\") ? text->substr(14) : std::string();
    };
    const auto expectStale = [&](const fs::path& file) {
        // Wait for samples beyond the header, then watch the file grow under it.
        const auto offset = headerSizes(file).dataOffset;
        ASSERT_TRUE(waitFor([&] { return sizeOf(file) > offset + 200; }, 3s)) << file;
        const auto before = sizeOf(file);
        ASSERT_TRUE(waitFor([&] { return sizeOf(file) > before; }, 3s)) << file;
        const HeaderSizes sizes = headerSizes(file);
        EXPECT_EQ(sizes.riff, std::string(c.stale) == "zero" ? 0U : offset - 8) << file;
        EXPECT_EQ(sizes.data, 0U) << file;
    };

    std::string first;
    ASSERT_TRUE(waitFor([&] { return !(first = liveName()).empty(); }, 5s)) << "CurFile never named a log";
    ASSERT_TRUE(fs::exists(logs / first));
    expectStale(logs / first);

    std::string second;
    ASSERT_TRUE(waitFor([&] { return (second = liveName()) != first && !second.empty(); }, 5s));
    ASSERT_EQ(logNames(root.path()), (std::vector<std::string>{first, second}));
    expectFinished(logs / first);
    const bool gsm = std::string(c.format) == "gsm"; // may end on a padded 320-frame block; lossy
    const auto rotated = decodeLog(logs / first);
    EXPECT_GE(rotated.frames, 2 * Rate);
    EXPECT_LE(rotated.frames, 2 * Rate + (gsm ? 320 : 0));
    EXPECT_EQ(rotated.channels, c.channels);
    expectStale(logs / second);

    logger->terminate();
    ASSERT_TRUE(logger->waitForFinished(10000));
    EXPECT_EQ(logger->exitCode(), 0) << logger->standardError();
    expectFinished(logs / second);
    const auto stopped = decodeLog(logs / second);
    EXPECT_GT(stopped.frames, 0);
    EXPECT_LE(stopped.frames, 2 * Rate + (gsm ? 320 : 0));
    if (gsm) {
        // GSM's 20-ms frames smear the 10-ms click, how far depending on the
        // minute's tone under it (at some minutes below what findMarks counts):
        // within two codec frames it still stands well above the tone.
        float peak = 0.0F;
        for (int64_t f = 0; f < std::min<int64_t>(stopped.frames, Rate / 25); ++f)
            peak = std::max(peak, std::fabs(stopped.at(f)));
        EXPECT_GT(peak, 0.2F);
    } else {
        const auto marks = findMarks(stopped);
        ASSERT_FALSE(marks.empty());
        EXPECT_EQ(marks.front().frame, 0);
    }
    EXPECT_EQ(readCurFileText(root.path()), std::string());
}

INSTANTIATE_TEST_SUITE_P(Formats, LoggerLiveHeader,
                         testing::Values(LiveCase{"pcm16", 2, "zero"}, LiveCase{"alaw", 1, "initial"},
                                         LiveCase{"gsm", 1, "zero"}),
                         [](const auto& info) { return std::string(info.param.format) + "_" + info.param.stale; });

TEST(LoggerBacklog, WritesFinishedFilesBackToBackAndKeepsThemOnASecondRun)
{
    TempDir root;
    const QStringList arguments{"--root", q(root.path()), "--backlog", "3", "--backlog-length", "2m",
                                "--backlog-end", "2021-03-04_05-10-00", "--rate", "8000", "--channels", "1"};
    const auto run = runLogger(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const std::vector<std::string> expected{"2021-03-04_05-04-00.wav", "2021-03-04_05-06-00.wav",
                                            "2021-03-04_05-08-00.wav"};
    ASSERT_EQ(logNames(root.path()), expected);
    for (const auto& name : expected) {
        const auto file = root / "logger" / "logs" / name;
        expectFinished(file);
        const auto log = decodeLog(file);
        EXPECT_EQ(log.frames, 120 * 8000) << name;
        expectTimeSignal(file, log);
    }
    // A backlog is history: it names no live file.
    EXPECT_FALSE(fs::exists(root / "logger" / "CurFile"));

    const auto before = readBytes(root / "logger" / "logs" / expected[1]);
    const auto again = runLogger(arguments);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("kept " + expected[1]), std::string::npos);
    EXPECT_EQ(readBytes(root / "logger" / "logs" / expected[1]), before);
}

struct FormatCase {
    const char* name;
    int subtype;
    int rate;
};

void PrintTo(const FormatCase& c, std::ostream* out)
{
    *out << c.name << " at " << c.rate << " Hz";
}

class LoggerFormats : public testing::TestWithParam<FormatCase> {};

TEST_P(LoggerFormats, RecordsTheTimeSignalReadableByLibsndfile)
{
    const FormatCase c = GetParam();
    TempDir root;
    // Three seconds across a minute: click, beep, click, and the tone changes.
    const auto run = runLogger({"--root", q(root.path()), "--backlog", "1", "--backlog-length", "3s",
                                "--backlog-end", "2021-03-04_05-05-02", "--format", c.name, "--rate",
                                QString::number(c.rate), "--channels", "1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto file = root / "logger" / "logs" / "2021-03-04_05-04-59.wav";
    expectFinished(file);
    const auto log = decodeLog(file);
    EXPECT_EQ(log.format, SF_FORMAT_WAV | c.subtype);

    if (c.subtype == SF_FORMAT_GSM610) {
        // Whole 320-frame blocks, and lossy: the clicks come out smeared, only the beep stands out clearly.
        EXPECT_GE(log.frames, 3 * c.rate);
        EXPECT_LE(log.frames, 3 * c.rate + 320);
        auto marks = findMarks(log);
        ASSERT_FALSE(marks.empty());
        std::sort(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) { return a.length > b.length; });
        EXPECT_TRUE(marks[0].beep);
        EXPECT_NEAR(double(marks[0].frame), c.rate, c.rate / 100.0);
        for (size_t i = 1; i < marks.size(); ++i)
            EXPECT_LT(marks[i].length, c.rate / 20);
        return;
    }
    EXPECT_EQ(log.frames, 3 * c.rate);
    // The header the console's live fix-up expects: 18-byte format chunk, sizes at 4 and 42.
    const auto bytes = readBytes(file);
    EXPECT_EQ(bytes[16], 18);
    EXPECT_EQ(std::string(bytes.begin() + 38, bytes.begin() + 42), "data");
    EXPECT_EQ(headerSizes(file).dataOffset, 46U);
    expectTimeSignal(file, log);
}

INSTANTIATE_TEST_SUITE_P(All, LoggerFormats,
                         testing::Values(
                             // 11025 Hz 8-bit mono: an odd data size, so the pad byte is exercised.
                             FormatCase{"pcm8", SF_FORMAT_PCM_U8, 11025}, FormatCase{"pcm16", SF_FORMAT_PCM_16, 8000},
                             FormatCase{"pcm24", SF_FORMAT_PCM_24, 44100}, FormatCase{"pcm32", SF_FORMAT_PCM_32, 48000},
                             FormatCase{"float", SF_FORMAT_FLOAT, 22050}, FormatCase{"alaw", SF_FORMAT_ALAW, 8000},
                             FormatCase{"ulaw", SF_FORMAT_ULAW, 8000}, FormatCase{"gsm", SF_FORMAT_GSM610, 8000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoggerCommandLine, HelpNamesEveryOptionAndBadInputIsRefusedBeforeAnythingIsWritten)
{
    const auto help = runLogger({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--root", "--rate", "--channels", "--format", "--period", "--no-align", "--stale",
                               "--duration", "--backlog ", "--backlog-length", "--backlog-end", "--help"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    for (const char* format : {"pcm8", "pcm16", "pcm24", "pcm32", "float", "alaw", "ulaw", "gsm"})
        EXPECT_NE(help.out.find(format), std::string::npos) << format;

    TempDir root;
    const QString dir = q(root.path());
    const struct {
        QStringList arguments;
        const char* complaint;
    } refused[] = {
        {{"--period", "1s"}, "--root"},
        {{"--root", dir, "--format", "mp3"}, "mp3"},
        {{"--root", dir, "--period", "0s"}, "--period"},
        {{"--root", dir, "--period", "10x"}, "--period"},
        {{"--root", dir, "--rate"}, "--rate"},
        {{"--root", dir, "--channels", "9"}, "--channels"},
        {{"--root", dir, "--format", "gsm", "--channels", "2"}, "mono"},
        // An hour of 96 kHz 32-bit stereo would pass 2 GiB.
        {{"--root", dir, "--rate", "96000", "--format", "pcm32", "--period", "1h"}, "2 GiB"},
        {{"--root", dir, "--backlog", "1", "--backlog-end", "2021-02-30_00-00-00"}, "2021-02-30"},
        {{"--root", dir, "--backlog-length", "1m"}, "--backlog"},
        {{"--root", dir, "--backlog", "2", "--duration", "5s"}, "--duration"},
        {{"--root", dir, "--loud"}, "--loud"},
    };
    for (const auto& r : refused) {
        const auto run = runLogger(r.arguments);
        EXPECT_EQ(run.exitCode, 2) << r.arguments.join(' ').toStdString();
        EXPECT_NE(run.err.find(r.complaint), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(root / "logger"));

    // A root that does not exist is a mistyped drive, not a folder to create.
    const auto missing = runLogger({"--root", q(root / "nowhere"), "--duration", "1s"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("nowhere"), std::string::npos);
    EXPECT_FALSE(fs::exists(root / "nowhere"));
}

} // namespace
} // namespace tarnveil::test
