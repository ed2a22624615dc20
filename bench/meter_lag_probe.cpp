// How far the level meter is from the sound after a seek and after Resume,
// measured against what really reaches the sound server:
//
//   meter_lag_probe MONITOR RUNS POLL_MS
//
// plays a log silent for 5 s and loud from 5 s to 10 s through the sound
// server's device, and captures MONITOR (the monitor source of the sink it
// plays to) with parec. Meter readings and captured samples are both
// time-stamped on the steady clock of this process, so no two clocks need
// matching. Each run:
//   seek    plays from 1 s (silence), then moves to 6 s (loud)
//   resume  plays from 6 s, pauses for 0.15 s, resumes
// and prints "CASE meter_minus_sound_ms N sound_after_action_ms M": when the
// meter first read loud, less when the first loud sample was captured; and
// when that sample came after the seek or Resume. The meter is read every
// POLL_MS (the console's meter reads every 25 ms, in a phase of its own, so
// the first read after the action comes at a random moment within POLL_MS).
//
// A captured sample is stamped when its chunk arrived from parec, less the
// samples after it in the chunk: late by the way to parec, early by up to one
// of the sink's blocks (parec asks for 5 ms), so a few ms either way.
#include "components/playback_feed.h"
#include "components/wave_out.h"
#include "components/wave_player.h"
#include "platform/failure.h"

#include <QCoreApplication>
#include <QDir>

#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace tarnveil;

namespace {

constexpr int Rate = 48000;
constexpr float LoudLevel = 0.1F;      // meter and capture alike
constexpr int64_t QuietBeforeMs = 60;  // an onset follows this much quiet
constexpr int64_t GiveUpMs = 3000;

int64_t msToNs(int64_t ms)
{
    return ms * 1'000'000;
}

// parec on the monitor source, read on a thread of its own; keeps the moment
// of every loud passage that follows quiet.
class SoundCapture {
public:
    explicit SoundCapture(const std::string& monitor)
    {
        int ends[2];
        if (::pipe(ends) != 0)
            throw Failure(FailureCode::DeviceUnavailable, "parec: no pipe");
        const std::string device = "--device=" + monitor;
        const char* const args[] = {"parec", device.c_str(), "--raw", "--format=s16le", "--rate=48000",
                                    "--channels=1", "--latency-msec=5", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, ends[0]);
        const int error = posix_spawnp(&parec_, "parec", &actions, nullptr, const_cast<char* const*>(args), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        if (error != 0) {
            ::close(ends[0]);
            throw Failure(FailureCode::DeviceUnavailable, "parec cannot be started");
        }
        fd_ = ends[0];
        thread_ = std::thread([this] { read(); });
    }
    ~SoundCapture()
    {
        // parec's end closes the pipe, which ends the read.
        ::kill(parec_, SIGTERM);
        ::waitpid(parec_, nullptr, 0);
        thread_.join();
        ::close(fd_);
    }
    SoundCapture(const SoundCapture&) = delete;
    SoundCapture& operator=(const SoundCapture&) = delete;

    // Whether parec has delivered anything yet: onsets before that are lost.
    bool listening() const { return framesRead_.load() > 0; }

    std::optional<int64_t> firstOnsetAfter(int64_t ns) const
    {
        std::lock_guard lock(mutex_);
        const auto found = std::upper_bound(onsets_.begin(), onsets_.end(), ns);
        return found == onsets_.end() ? std::nullopt : std::optional(*found);
    }

private:
    void read()
    {
        const auto threshold = static_cast<int>(LoudLevel * 32768.0F);
        const int64_t quietFrames = QuietBeforeMs * Rate / 1000;
        int64_t quietRun = quietFrames;
        std::vector<int16_t> samples(4096);
        for (;;) {
            const ssize_t got = ::read(fd_, samples.data(), samples.size() * sizeof(int16_t));
            const int64_t arrived = steadyNowNs();
            if (got <= 0)
                return;
            // parec writes whole samples in practice; an odd byte would only shift one stamp.
            const auto count = static_cast<int64_t>(got) / 2;
            framesRead_.fetch_add(count);
            for (int64_t i = 0; i < count; ++i) {
                if (std::abs(samples[static_cast<size_t>(i)]) <= threshold) {
                    ++quietRun;
                    continue;
                }
                if (quietRun >= quietFrames) {
                    std::lock_guard lock(mutex_);
                    onsets_.push_back(arrived - (count - i) * 1'000'000'000 / Rate);
                }
                quietRun = 0;
            }
        }
    }

    pid_t parec_ = 0;
    int fd_ = -1;
    std::atomic<int64_t> framesRead_{0};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<int64_t> onsets_; // in order
};

void writeStepLog(const std::string& path)
{
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw Failure(FailureCode::PathFileAccessError, path);
    std::vector<int16_t> frames(static_cast<size_t>(Rate) * 10 * 2, 0);
    for (size_t frame = static_cast<size_t>(Rate) * 5; frame < frames.size() / 2; ++frame)
        frames[frame * 2] = frames[frame * 2 + 1] = frame % 48 < 24 ? 16000 : -16000;
    sf_writef_short(file, frames.data(), static_cast<sf_count_t>(frames.size() / 2));
    sf_close(file);
}

int32_t soundServerDevice()
{
    const WaveOut devices;
    for (int32_t i = 0; i < devices.DeviceCount(); ++i) {
        if (devices.DeviceName(i) == QStringLiteral("pulse"))
            return i;
    }
    throw Failure(FailureCode::DeviceUnavailable, "pulse");
}

void spinFor(int64_t ms)
{
    const int64_t until = steadyNowNs() + msToNs(ms);
    while (steadyNowNs() < until) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The meter's first loud reading after `since`, read every `pollMs` from a
// random phase, as the console's meter timer reads.
std::optional<int64_t> firstLoudReading(WavePlayer& player, int64_t since, int pollMs, std::mt19937& random)
{
    int64_t next = since + std::uniform_int_distribution<int64_t>(0, msToNs(pollMs))(random);
    while (steadyNowNs() < since + msToNs(GiveUpMs)) {
        QCoreApplication::processEvents();
        const int64_t now = steadyNowNs();
        if (now < next) {
            std::this_thread::sleep_for(std::chrono::nanoseconds(std::min<int64_t>(next - now, 1'000'000)));
            continue;
        }
        next += msToNs(pollMs);
        if (player.takeLevels().peak[0] > LoudLevel)
            return now;
    }
    return std::nullopt;
}

struct Lag {
    double meterMinusSoundMs = 0.0;
    double soundAfterActionMs = 0.0;
};

std::optional<Lag> measure(const SoundCapture& capture, WavePlayer& player, int64_t action, int pollMs,
                           std::mt19937& random)
{
    const std::optional<int64_t> meter = firstLoudReading(player, action, pollMs, random);
    std::optional<int64_t> sound;
    const int64_t until = steadyNowNs() + msToNs(GiveUpMs);
    while (!(sound = capture.firstOnsetAfter(action)) && steadyNowNs() < until)
        spinFor(5);
    if (!meter || !sound)
        return std::nullopt;
    return Lag{static_cast<double>(*meter - *sound) / 1e6, static_cast<double>(*sound - action) / 1e6};
}

void report(const char* name, const std::optional<Lag>& lag, std::vector<double>& lags)
{
    if (!lag) {
        std::printf("%s miss\n", name);
        return;
    }
    lags.push_back(lag->meterMinusSoundMs);
    std::printf("%s meter_minus_sound_ms %.1f sound_after_action_ms %.1f\n", name, lag->meterMinusSoundMs,
                lag->soundAfterActionMs);
    std::fflush(stdout);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

bool parseCount(std::string_view text, int& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value > 0;
}

int run(const std::string& monitor, int runs, int pollMs)
{
    const std::string log = QDir::tempPath().toStdString() + "/meter-lag-" + std::to_string(::getpid()) + ".wav";
    writeStepLog(log);
    const SoundCapture capture(monitor);
    const int64_t deadline = steadyNowNs() + msToNs(GiveUpMs);
    while (!capture.listening() && steadyNowNs() < deadline)
        spinFor(10);
    if (!capture.listening())
        throw Failure(FailureCode::DeviceUnavailable, monitor + ": nothing captured");
    WavePlayer player;
    player.setDeviceID(soundServerDevice());
    player.setFileName(log);
    std::mt19937 random(std::random_device{}());
    std::vector<double> seeks;
    std::vector<double> resumes;
    for (int i = 0; i < runs; ++i) {
        player.setPosition(1000);
        player.Play();
        spinFor(800);
        int64_t action = steadyNowNs();
        player.setPosition(6000);
        report("seek", measure(capture, player, action, pollMs, random), seeks);
        player.Stop();

        player.setPosition(6000);
        player.Play();
        spinFor(500);
        player.Pause();
        spinFor(150);
        action = steadyNowNs();
        player.Resume();
        report("resume", measure(capture, player, action, pollMs, random), resumes);
        player.Stop();
    }
    std::remove(log.c_str());
    std::printf("median_seek_meter_minus_sound_ms %.1f\nmedian_resume_meter_minus_sound_ms %.1f\n", median(seeks),
                median(resumes));
    return seeks.size() + resumes.size() == static_cast<size_t>(2 * runs) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 0;
    int pollMs = 0;
    if (argc != 4 || !parseCount(argv[2], runs) || !parseCount(argv[3], pollMs)) {
        std::fputs("usage: meter_lag_probe MONITOR RUNS POLL_MS\n", stderr);
        return 2;
    }
    try {
        return run(argv[1], runs, pollMs);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "meter_lag_probe: %s\n", failure.message().c_str());
        return 1;
    }
}
