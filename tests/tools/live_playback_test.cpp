// The console and the logger together: the console plays the log the logger is
// recording, through the header fix-up, follows it as it grows and on into the
// next logs, and the logger still finishes its files properly.

#include "console_fixture.h"
#include "logger_support.h"

#include "components/track_bar.h"
#include "components/wave_player.h"
#include "support/audio_env.h"

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

namespace tarnveil::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using LiveLogPlayback = ConsoleTest;

// The frame count in a WAV file's fact chunk (block codecs pad their last
// block), or -1 without one.
int64_t factFrames(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> head(512);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    const auto le32 = [&](size_t at) {
        return uint32_t{head[at]} | uint32_t{head[at + 1]} << 8 | uint32_t{head[at + 2]} << 16 |
               uint32_t{head[at + 3]} << 24;
    };
    for (size_t at = 12; at + 12 <= head.size();) {
        if (std::memcmp(&head[at], "fact", 4) == 0)
            return le32(at + 8);
        if (std::memcmp(&head[at], "data", 4) == 0)
            break;
        at += 8 + le32(at + 4) + (le32(at + 4) & 1U);
    }
    return -1;
}

TEST_F(LiveLogPlayback, TheConsoleHearsWhatTheLoggerRecordedAndTheLoggerStillFinishesTheFile)
{
    playDevice = pacedCaptureDeviceNumber();
    if (playDevice < 0)
        GTEST_SKIP() << "no paced capture device";
    constexpr int Rate = 8000;
    constexpr int BytesPerFrame = 4; // 16-bit stereo
    auto logger = startLogger({"--root", QString::fromStdString(loggerDir.path().string()), "--rate",
                               QString::number(Rate), "--channels", "2", "--period", "1h", "--no-align"});

    // Two seconds recorded, then the console starts (it lists the logs once, at start).
    std::string name;
    ASSERT_TRUE(waitFor(
        [&] {
            const auto text = readCurFileText(loggerDir.path());
            if (!text || text->size() <= 14)
                return false;
            name = text->substr(14);
            std::error_code ignored;
            return fs::file_size(logs / name, ignored) > 46 + 2 * Rate * BytesPerFrame && !ignored;
        },
        8000));
    EXPECT_EQ(headerSizes(logs / name).data, 0U) << "the header should still be stale";

    mnuMenu& w = openWindow();
    selectLog(QString::fromStdString(name));
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);
    const auto recordedBefore = static_cast<int64_t>((fs::file_size(logs / name) - 46) / BytesPerFrame);
    clickPlay();
    // Playback goes on after what had been recorded at Play, keeping up with
    // the logger until it stops.
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == -1; }, 5000));
    EXPECT_EQ(module.CurrentLogPath, "L:\\logger\\logs\\" + name);
    // The console gave the live header the sizes of what had been recorded by then.
    const HeaderSizes fixed = headerSizes(logs / name);
    EXPECT_GE(int64_t{fixed.data}, recordedBefore * BytesPerFrame);
    EXPECT_EQ(fixed.riff, fixed.data + 46 - 8);

    // Longer than what had been recorded at Play takes to play.
    // "Total" spans the log as it grows.
    const int32_t maxAtPlay = w.TrackBar->Max();
    EXPECT_TRUE(waitFor([&] {
        return !stopped.isEmpty()
            || (w.WavePlayer->Position() > maxAtPlay + 1000 && w.TrackBar->Max() >= maxAtPlay + 3000);
    }, 15000));
    EXPECT_TRUE(stopped.isEmpty()) << "playback ended while the log was still being recorded";
    // The time left is the distance to the live edge.
    EXPECT_NEAR(w.lblDown->text().section(':', 1).toInt(),
                (w.WavePlayer->Wave().Length() - w.WavePlayer->Position()) / 1000.0, 1.0);
    logger->terminate();
    ASSERT_TRUE(logger->waitForFinished(10000));
    EXPECT_EQ(logger->exitCode(), 0) << logger->standardError();
    ASSERT_TRUE(waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; }, 10000));

    // The finished file: true sizes, despite the console's rewrite in between.
    const auto file = logs / name;
    const HeaderSizes sizes = headerSizes(file);
    EXPECT_EQ(sizes.riff, fs::file_size(file) - 8);
    EXPECT_EQ(sizes.data, fs::file_size(file) - 46);
    const DecodedLog log = decodeLog(file);
    ASSERT_EQ(log.channels, 2);
    const auto marks = findMarks(log);
    ASSERT_FALSE(marks.empty());
    EXPECT_EQ(marks.back().frame, (log.frames - 1) / Rate * Rate);

    // What was heard is the whole recording, sample for sample: the part
    // recorded before Play and everything the logger appended while it played.
    const std::vector<float> heard = soundingHeard(2);
    const std::vector<float> recorded = soundingRecorded({log}, 2);
    ASSERT_EQ(heard.size(), recorded.size());
    EXPECT_TRUE(heard == recorded);
}

struct LiveFormat {
    const char* format;
    int channels;
};

class LiveLogRotation : public ConsoleTest, public ::testing::WithParamInterface<LiveFormat> {};

// The logger starts a new file every two seconds. Played from the live log,
// the console goes on into each new log without a gap or a repeated sample,
// shows it as the selected log, and ends when the logger stops. Formats differ
// in how a file grows: by frames of 1 to 4 bytes per channel, or by 65-byte
// GSM blocks of 320 samples.
TEST_P(LiveLogRotation, PlaybackRunsOnIntoEachNewLogSampleForSampleUntilTheLoggerStops)
{
    // Paced, as a sound card is: an unpaced device would spend the waits for
    // the logger writing silence as fast as it can.
    playDevice = pacedCaptureDeviceNumber();
    if (playDevice < 0)
        GTEST_SKIP() << "no paced capture device";
    const LiveFormat format = GetParam();
    constexpr int Rate = 8000;
    auto logger = startLogger({"--root", QString::fromStdString(loggerDir.path().string()), "--rate",
                               QString::number(Rate), "--channels", QString::number(format.channels), "--format",
                               QString::fromLatin1(format.format), "--period", "2s", "--no-align"});
    // The console lists the logs once, at start: it starts right after a
    // rotation, once the new live log holds a few samples, and plays that.
    std::optional<std::string> earlier;
    ASSERT_TRUE(waitFor([&] { return (earlier = readCurFileText(loggerDir.path())) && earlier->size() > 14; }, 5000));
    std::string first;
    ASSERT_TRUE(waitFor(
        [&] {
            const auto text = readCurFileText(loggerDir.path());
            std::error_code ignored;
            if (!text || text->size() <= 14 || *text == *earlier)
                return false;
            first = text->substr(14);
            return fs::file_size(logs / first, ignored) > 200 && !ignored;
        },
        5000));
    mnuMenu& w = openWindow();
    QSignalSpy changed(w.WavePlayer, &WavePlayer::LogChanged);
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);
    selectLog(QString::fromStdString(first));
    QTest::mouseClick(w.cmdPlay, Qt::LeftButton);
    ASSERT_TRUE(ConsoleTest::waitFor([&] { return module.PlayerOpen == -1; }, 5000));
    ASSERT_EQ(module.CurrentLogPath, "L:\\logger\\logs\\" + first) << "the log was not live at Play";

    ASSERT_TRUE(ConsoleTest::waitFor([&] { return changed.size() >= 2; }, 12000));
    EXPECT_TRUE(stopped.isEmpty());
    // The console is on the log now heard: selected in the list (which did not
    // list it at start), named as the selected log, and the slider spans it.
    const auto now = changed.last().at(0).value<std::filesystem::path>().filename().string();
    // The list may list it only with its next look.
    EXPECT_TRUE(ConsoleTest::waitFor([&] {
        return w.lstLogs->currentIndex().data().toString().toStdString() == now;
    }, 6000));
    EXPECT_EQ(w.SelectedLogPath, "L:\\logger\\logs\\" + now);
    EXPECT_EQ(w.WavePlayer->FileName().filename().string(), now);
    EXPECT_LT(w.WavePlayer->Wave().Length(), 2001);

    logger->terminate();
    ASSERT_TRUE(logger->waitForFinished(10000));
    EXPECT_EQ(logger->exitCode(), 0) << logger->standardError();
    ASSERT_TRUE(ConsoleTest::waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; }, 10000));

    // Heard: the logs from the one played on, joined end to end, to the last
    // frame the logger wrote.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(logs)) {
        if (entry.path().filename().string() >= first)
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    ASSERT_GE(names.size(), 3U);
    const int heardChannels = std::min(format.channels, 2);
    std::vector<DecodedLog> written;
    for (const std::string& name : names) {
        written.push_back(decodeLog(logs / name));
        if (const int64_t fact = factFrames(logs / name); fact >= 0)
            written.back().frames = std::min(fact, written.back().frames);
    }
    const std::vector<float> recorded = soundingRecorded(written, heardChannels);
    const std::vector<float> heard = soundingHeard(heardChannels);
    ASSERT_EQ(heard.size(), recorded.size()) << "heard " << heard.size() / heardChannels << " sounding frames";
    const auto differ = std::mismatch(heard.begin(), heard.end(), recorded.begin());
    EXPECT_TRUE(differ.first == heard.end())
        << "first difference at sounding frame " << (differ.first - heard.begin()) / heardChannels;
}

INSTANTIATE_TEST_SUITE_P(Formats, LiveLogRotation,
                         ::testing::Values(LiveFormat{"pcm8", 2}, LiveFormat{"pcm16", 2}, LiveFormat{"pcm24", 2},
                                           LiveFormat{"pcm32", 2}, LiveFormat{"float", 2}, LiveFormat{"alaw", 1},
                                           LiveFormat{"ulaw", 2}, LiveFormat{"gsm", 1}),
                         [](const ::testing::TestParamInfo<LiveFormat>& info) { return info.param.format; });

// Other loggers (rotter among them) keep no CurFile, write through libsndfile,
// and give a WAV file its sizes only when they close it. A recorder of that
// shape, paced in real time: each of `names` in turn for `period`, the last
// one until stop().
class CurFileLessRecorder {
public:
    CurFileLessRecorder(fs::path logs, std::vector<std::string> names, int format, int rate,
                        std::chrono::milliseconds period)
        : thread_([this, logs = std::move(logs), names = std::move(names), format, rate, period] {
              record(logs, names, format, rate, period);
          })
    {
    }
    ~CurFileLessRecorder() { stop(); }
    CurFileLessRecorder(const CurFileLessRecorder&) = delete;
    CurFileLessRecorder& operator=(const CurFileLessRecorder&) = delete;

    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    void record(const fs::path& logs, const std::vector<std::string>& names, int format, int rate,
                std::chrono::milliseconds period)
    {
        constexpr int Channels = 2;
        const int blockFrames = rate / 50;
        std::vector<float> block(static_cast<size_t>(blockFrames * Channels));
        int64_t frame = 0;
        auto tick = std::chrono::steady_clock::now();
        for (size_t n = 0; n < names.size() && !stop_; ++n) {
            fs::create_directories((logs / names[n]).parent_path());
            SF_INFO info{};
            info.samplerate = rate;
            info.channels = Channels;
            info.format = format;
            SNDFILE* file = sf_open((logs / names[n]).c_str(), SFM_WRITE, &info);
            if (file == nullptr)
                return;
            const auto end = tick + period;
            while (!stop_ && (n + 1 == names.size() || tick < end)) {
                for (int i = 0; i < blockFrames; ++i, ++frame) {
                    const double t = static_cast<double>(frame) / rate;
                    block[static_cast<size_t>(i * Channels)] = static_cast<float>(0.3 * std::sin(2 * M_PI * 440 * t));
                    block[static_cast<size_t>(i * Channels + 1)] = static_cast<float>(0.2 * std::sin(2 * M_PI * 330 * t));
                }
                sf_writef_float(file, block.data(), blockFrames);
                tick += std::chrono::milliseconds(20);
                std::this_thread::sleep_until(tick);
            }
            sf_close(file);
        }
    }

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct OtherLogger {
    const char* name;
    int format;
    int rate;
    std::vector<std::string> files; // below the log folder, oldest first
    std::vector<std::string> shown; // as the list shows them
};

void PrintTo(const OtherLogger& logger, std::ostream* out)
{
    *out << logger.name;
}

class OtherLoggerLiveLog : public ConsoleTest, public ::testing::WithParamInterface<OtherLogger> {};

// Played from its newest log while it records, such a logger is followed as
// the console's own: on into each new log as it appears, the new log selected
// under its listed name, until the logger stops. Nothing is written to its
// files. A WAV or FLAC log is heard sample for sample; an MP3 log is heard
// whole give or take the coder's padding at each file's end, which only the
// finished file states, after the part of it that was heard while recorded.
TEST_P(OtherLoggerLiveLog, IsFollowedFromItsNewestLogIntoTheNextUntilItStops)
{
    playDevice = pacedCaptureDeviceNumber();
    if (playDevice < 0)
        GTEST_SKIP() << "no paced capture device";
    const OtherLogger& param = GetParam();
    SF_INFO check{};
    check.samplerate = param.rate;
    check.channels = 2;
    check.format = param.format;
    if (sf_format_check(&check) == SF_FALSE)
        GTEST_SKIP() << "libsndfile cannot write " << param.name << " here";

    CurFileLessRecorder recorder(logs, param.files, param.format, param.rate, 2500ms);
    ASSERT_TRUE(ConsoleTest::waitFor([&] {
        std::error_code ignored;
        return fs::file_size(logs / param.files[0], ignored) > 2000 && !ignored;
    }, 5000));
    mnuMenu& w = openWindow();
    QSignalSpy changed(w.WavePlayer, &WavePlayer::LogChanged);
    QSignalSpy stopped(w.WavePlayer, &WavePlayer::PlaybackStopped);
    ASSERT_TRUE(ConsoleTest::waitFor([&] { return listedLogs().contains(QString::fromStdString(param.shown[0])); }));
    selectLog(QString::fromStdString(param.shown[0]));
    clickPlay();
    ASSERT_TRUE(ConsoleTest::waitFor([&] { return module.PlayerOpen == -1; }, 5000));

    ASSERT_TRUE(ConsoleTest::waitFor([&] { return changed.size() >= 2; }, 12000));
    EXPECT_TRUE(stopped.isEmpty());
    EXPECT_TRUE(ConsoleTest::waitFor([&] {
        return w.lstLogs->currentIndex().data().toString().toStdString() == param.shown[2];
    }, 6000));
    std::string drivePath = "L:\\logger\\logs\\" + param.files[2];
    std::replace(drivePath.begin(), drivePath.end(), '/', '\\');
    EXPECT_EQ(w.SelectedLogPath, drivePath);

    recorder.stop();
    ASSERT_TRUE(ConsoleTest::waitFor([&] { return !stopped.isEmpty() && module.PlayerOpen == 0; }, 10000));

    std::vector<DecodedLog> written;
    for (const std::string& name : param.files)
        written.push_back(decodeLog(logs / name));
    const std::vector<float> recorded = soundingRecorded(written, 2);
    const std::vector<float> heard = soundingHeard(2);
    if ((param.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG) {
        ASSERT_EQ(heard.size(), recorded.size()) << "heard " << heard.size() / 2 << " sounding frames";
        EXPECT_TRUE(heard == recorded);
    } else {
        // Each file's decoder may drop or add up to a few codec frames at its ends.
        EXPECT_NEAR(static_cast<double>(heard.size()), static_cast<double>(recorded.size()),
                    0.03 * static_cast<double>(recorded.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, OtherLoggerLiveLog,
    ::testing::Values(
        OtherLogger{"FlatWav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000,
                    {"2026-12-07-16.wav", "2026-12-07-17.wav", "2026-12-07-18.wav"},
                    {"2026-12-07-16.wav", "2026-12-07-17.wav", "2026-12-07-18.wav"}},
        OtherLogger{"DatedMp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 16000,
                    {"2026/12/07/16/archive.mp3", "2026/12/07/17/archive.mp3", "2026/12/07/18/archive.mp3"},
                    {"2026-12-07 16 archive.mp3", "2026-12-07 17 archive.mp3", "2026-12-07 18 archive.mp3"}},
        OtherLogger{"FlatFlac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16000,
                    {"2026-12-07-16.flac", "2026-12-07-17.flac", "2026-12-07-18.flac"},
                    {"2026-12-07-16.flac", "2026-12-07-17.flac", "2026-12-07-18.flac"}}),
    [](const ::testing::TestParamInfo<OtherLogger>& info) { return std::string(info.param.name); });

} // namespace
} // namespace tarnveil::test
