// A command-line probe of the console's audio engine, for timing it against
// other players with the same stopwatch (bench/peers.sh):
//
//   engine_probe seek-decode FILE MS DURATION_MS
//       opens FILE as the player does, seeks to MS and decodes DURATION_MS
//   engine_probe decode-all FILE
//       decodes the whole file to nowhere
//   engine_probe play FILE SECONDS [DEVICE]
//       plays FILE through WavePlayer for SECONDS (or to its end) on DEVICE: a
//       number in the player's device list or a name ("pulse"); the sound
//       server's device by default. Prints the device's underflows and the
//       buffers the reader left short (gaps heard) at the end
//   engine_probe follow ROOT SECONDS [DEVICE]
//       plays the log that the logger under ROOT (ROOT/logger/CurFile) is
//       recording, from its live edge, and follows it for SECONDS; prints how
//       far behind the recording what is heard stays, sampled every 50 ms,
//       as "lag_median_ms N" and "lag_max_ms N" (each sample as "lag_ms N"
//       too when TARNVEIL_LAGS is set), and the gaps heard as play does.
//       TARNVEIL_FOLLOW_FROM_MS=N starts at N ms instead of the length the
//       player knows at open. A
//       compressed log's recording is known only as far as the player has
//       decoded it, so its lag is taken from the player's own length
//   engine_probe devices
//       lists the player's devices with their numbers
//   engine_probe rss-play FILE SECONDS [DEVICE]
//       as play, and prints the resident memory (kB) seen each half second
//       while playing, then "rss_max_kb N" and "rss_last_kb N"
//
// Decoding goes through the player's own path: libsndfile into floats, then
// the channel fold to the device's channels. play, rss-play and follow print
// "cpu_percent N": the process's processor time over the time played, and
// "cpu_steady_percent N": the same from two seconds in. Exit
// status 0 on success; a failure prints its number and description.
#include "components/channel_mixer.h"
#include "components/playback_engine.h"
#include "components/growing_wave_io.h"
#include "components/sound_file.h"
#include "console/cur_file.h"
#include "components/wave_out.h"
#include "components/wave_player.h"
#include "platform/failure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace tarnveil;

namespace {

constexpr int64_t BlockFrames = 1024;

int usage()
{
    std::fputs("usage: engine_probe seek-decode FILE MS DURATION_MS\n"
               "       engine_probe decode-all FILE\n"
               "       engine_probe play FILE SECONDS [DEVICE]\n"
               "       engine_probe rss-play FILE SECONDS [DEVICE]\n"
               "       engine_probe follow ROOT SECONDS [DEVICE]\n"
               "       engine_probe devices\n",
               stderr);
    return 2;
}

bool parseNumber(std::string_view text, int64_t& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

// Decodes up to `frames` frames from the file's read position; returns the
// frames decoded and folds them into a checksum so that nothing is optimised away.
int64_t decode(SoundFile& file, int64_t frames, double& checksum)
{
    const int outputs = std::min(file.channels(), 2);
    const ChannelMixer mixer(file.channels(), file.channelMap(), outputs);
    std::vector<float> decoded(static_cast<size_t>(BlockFrames * file.channels()));
    std::vector<float> mixed(static_cast<size_t>(BlockFrames * outputs));
    int64_t done = 0;
    while (done < frames) {
        const int64_t got = file.read(decoded.data(), std::min(BlockFrames, frames - done));
        if (got == 0)
            break;
        const float* out = decoded.data();
        if (!mixer.passesThrough()) {
            mixer.mix(decoded.data(), mixed.data(), static_cast<size_t>(got));
            out = mixed.data();
        }
        checksum += out[0];
        done += got;
    }
    return done;
}

int seekDecode(const char* name, int64_t ms, int64_t durationMs)
{
    SoundFile file(name);
    const int64_t start = msToFrames(ms, file.sampleRate());
    if (start > file.frames() || !file.seek(start)) {
        std::fprintf(stderr, "engine_probe: cannot seek to %lld ms\n", static_cast<long long>(ms));
        return 1;
    }
    double checksum = 0.0;
    const int64_t want = msToFrames(durationMs, file.sampleRate());
    const int64_t got = decode(file, want, checksum);
    std::printf("decoded %lld frames from %lld ms (checksum %g)\n", static_cast<long long>(got),
                static_cast<long long>(ms), checksum);
    return got == want ? 0 : 1;
}

int decodeAll(const char* name)
{
    SoundFile file(name);
    double checksum = 0.0;
    const int64_t got = decode(file, file.frames(), checksum);
    std::printf("decoded %lld frames (checksum %g)\n", static_cast<long long>(got), checksum);
    return got == file.frames() ? 0 : 1;
}

// A number is a position in the player's list; anything else is matched
// against the device names ("pulse" before "default" when nothing is given).
int32_t findDevice(const char* wanted)
{
    const WaveOut devices;
    int64_t number = 0;
    if (wanted != nullptr && parseNumber(wanted, number))
        return static_cast<int32_t>(number);
    const std::vector<QString> names = wanted != nullptr
                                           ? std::vector<QString>{QString::fromLocal8Bit(wanted)}
                                           : std::vector<QString>{QStringLiteral("pulse"), QStringLiteral("default")};
    for (const QString& name : names) {
        for (int32_t i = 0; i < devices.DeviceCount(); ++i) {
            if (devices.DeviceName(i) == name)
                return i;
        }
    }
    if (wanted != nullptr)
        throw Failure(FailureCode::DeviceUnavailable, wanted);
    return 0;
}

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

double processorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Where the processor time and the dropouts stood two seconds in, once
// opening, a jump and the device's start are behind: from there on is what
// playing on costs. Started at the live edge, the device's first queue cannot
// be filled with what is not yet recorded; those buffers are the start's, not
// dropouts of playing on.
struct SteadyMark {
    double processorSeconds = -1.0;
    qint64 elapsedMs = 0;
    uint64_t starvedBuffers = 0;
};

void markSteady(SteadyMark& mark, const QElapsedTimer& clock, const WavePlayer& player)
{
    QTimer::singleShot(2000, [&mark, &clock, &player] {
        mark = SteadyMark{processorSeconds(), clock.elapsed(), player.dropouts().starvedBuffers};
    });
}

void printProcessorUse(double since, const QElapsedTimer& clock, const SteadyMark& steady)
{
    const double now = processorSeconds();
    std::printf("cpu_percent %.2f\n", 100.0 * (now - since) * 1000.0 / static_cast<double>(clock.elapsed()));
    if (steady.processorSeconds >= 0.0 && clock.elapsed() > steady.elapsedMs)
        std::printf("cpu_steady_percent %.2f\n", 100.0 * (now - steady.processorSeconds) * 1000.0 /
                                                      static_cast<double>(clock.elapsed() - steady.elapsedMs));
}

void printDropouts(const WavePlayer& player, const SteadyMark& steady)
{
    const PlaybackDropouts dropouts = player.dropouts();
    std::printf("device_underflows %llu\nstarved_buffers %llu\nstarved_buffers_steady %llu\n",
                static_cast<unsigned long long>(dropouts.deviceUnderflows),
                static_cast<unsigned long long>(dropouts.starvedBuffers),
                static_cast<unsigned long long>(dropouts.starvedBuffers - steady.starvedBuffers));
}

int play(const char* name, int64_t seconds, const char* device, bool sampleMemory)
{
    WavePlayer player;
    player.setDeviceID(findDevice(device));
    player.setFileName(name);

    long maxKb = 0;
    long lastKb = 0;
    QTimer memory;
    if (sampleMemory) {
        QObject::connect(&memory, &QTimer::timeout, [&] {
            lastKb = residentKb();
            maxKb = std::max(maxKb, lastKb);
            std::printf("rss_kb %ld\n", lastKb);
            std::fflush(stdout);
        });
        memory.start(500);
    }
    QObject::connect(&player, &WavePlayer::PlaybackStopped, QCoreApplication::instance(), &QCoreApplication::quit);
    QTimer::singleShot(static_cast<int>(seconds * 1000), &player, [&player] { player.Stop(); });

    QElapsedTimer clock;
    clock.start();
    const double processorBefore = processorSeconds();
    SteadyMark steady;
    markSteady(steady, clock, player);
    player.Play();
    QCoreApplication::exec();
    std::printf("played %.3f s to position %d ms\n", static_cast<double>(clock.elapsed()) / 1000.0,
                player.Position());
    printDropouts(player, steady);
    printProcessorUse(processorBefore, clock, steady);
    if (sampleMemory)
        std::printf("rss_max_kb %ld\nrss_last_kb %ld\n", maxKb, lastKb);
    return 0;
}

// The log the logger under `root` names in CurFile, or an empty path.
std::filesystem::path liveLog(const std::filesystem::path& root)
{
    std::ifstream in(root / "logger" / "CurFile", std::ios::binary);
    std::vector<uint8_t> bytes(CurFileReadSize);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    const std::string name = parseCurFile(bytes);
    const std::string prefix = ":\\logger\\logs\\";
    if (name.rfind(prefix, 0) != 0)
        return {};
    return root / "logger" / "logs" / name.substr(prefix.size());
}

// Milliseconds of whole frames in the WAV log `file` on disk now; nothing
// for a compressed log, whose length only its decoder knows.
std::optional<int64_t> recordedMs(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> head(4096);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    const std::optional<WaveLayout> layout = readWaveLayout(head);
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (!layout)
        return std::nullopt;
    if (error || size < layout->dataOffset || layout->sampleRate == 0)
        return 0;
    const auto frames = static_cast<int64_t>((size - layout->dataOffset) / layout->blockAlign * layout->framesPerBlock);
    return framesToMs(frames, static_cast<int>(layout->sampleRate));
}

int follow(const char* rootName, int64_t seconds, const char* device)
{
    const std::filesystem::path root(rootName);
    const std::filesystem::path first = liveLog(root);
    if (first.empty())
        throw Failure(FailureCode::FileNotFound, "CurFile names no log");
    WavePlayer player;
    player.setDeviceID(findDevice(device));
    player.setFileName(first, [root]() -> std::optional<std::filesystem::path> {
        std::filesystem::path live = liveLog(root);
        return live.empty() ? std::nullopt : std::optional(live);
    });
    std::vector<int64_t> lags;
    int changes = 0;
    QObject::connect(&player, &WavePlayer::LogChanged, [&changes](const std::filesystem::path&) { ++changes; });
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        // What has been recorded after the point being heard, over every log.
        const std::filesystem::path live = liveLog(root);
        int64_t lag = recordedMs(live).value_or(player.LengthMs());
        if (live != player.FileName())
            lag += player.LengthMs();
        lags.push_back(lag - player.Position());
        if (std::getenv("TARNVEIL_LAGS") != nullptr)
            std::printf("lag_ms %lld position_ms %d\n", static_cast<long long>(lags.back()), player.Position());
    });
    QObject::connect(&player, &WavePlayer::PlaybackStopped, QCoreApplication::instance(), &QCoreApplication::quit);
    QTimer::singleShot(static_cast<int>(seconds * 1000), &player, [&player] { player.Stop(); });

    QElapsedTimer clock;
    clock.start();
    const double processorBefore = processorSeconds();
    SteadyMark steady;
    markSteady(steady, clock, player);
    // Jump to now: the newest sample recorded. A log whose decoder cannot tell
    // its length before reading it (FLAC) is sent where the bench says now is.
    const char* from = std::getenv("TARNVEIL_FOLLOW_FROM_MS");
    player.setPosition(from != nullptr ? static_cast<int32_t>(std::atol(from)) : player.LengthMs());
    player.Play();
    sample.start(50);
    QCoreApplication::exec();
    std::printf("followed %.3f s over %d new logs\n", static_cast<double>(clock.elapsed()) / 1000.0, changes);
    printDropouts(player, steady);
    printProcessorUse(processorBefore, clock, steady);
    // The first second settles the device's queue.
    lags.erase(lags.begin(), lags.begin() + std::min<ptrdiff_t>(20, static_cast<ptrdiff_t>(lags.size())));
    if (lags.empty())
        return 1;
    std::sort(lags.begin(), lags.end());
    std::printf("lag_median_ms %lld\nlag_max_ms %lld\n", static_cast<long long>(lags[lags.size() / 2]),
                static_cast<long long>(lags.back()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    int64_t a = 0;
    int64_t b = 0;
    try {
        if (args.size() == 4 && args[0] == "seek-decode" && parseNumber(args[2], a) && parseNumber(args[3], b))
            return seekDecode(argv[2], a, b);
        if (args.size() == 1 && args[0] == "devices") {
            const WaveOut devices;
            for (int32_t i = 0; i < devices.DeviceCount(); ++i)
                std::printf("%d %s\n", i, devices.DeviceName(i).toLocal8Bit().constData());
            return 0;
        }
        if (args.size() == 2 && args[0] == "decode-all")
            return decodeAll(argv[2]);
        if ((args.size() == 3 || args.size() == 4) && (args[0] == "play" || args[0] == "rss-play") &&
            parseNumber(args[2], a) && a > 0)
            return play(argv[2], a, args.size() == 4 ? argv[4] : nullptr, args[0] == "rss-play");
        if ((args.size() == 3 || args.size() == 4) && args[0] == "follow" && parseNumber(args[2], a) && a > 0)
            return follow(argv[2], a, args.size() == 4 ? argv[4] : nullptr);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "engine_probe: %s\n", failure.message().c_str());
        return 1;
    }
    return usage();
}
