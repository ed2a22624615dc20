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
//   engine_probe devices
//       lists the player's devices with their numbers
//   engine_probe rss-play FILE SECONDS [DEVICE]
//       as play, and prints the resident memory (kB) seen each half second
//       while playing, then "rss_max_kb N" and "rss_last_kb N"
//
// Decoding goes through the player's own path: libsndfile into floats, then
// the channel fold to the device's channels. Exit status 0 on success; a
// failure prints its number and description.
#include "components/channel_mixer.h"
#include "components/playback_engine.h"
#include "components/sound_file.h"
#include "components/wave_out.h"
#include "components/wave_player.h"
#include "platform/failure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
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
    player.Play();
    QCoreApplication::exec();
    const PlaybackDropouts dropouts = player.dropouts();
    std::printf("played %.3f s to position %d ms\n", static_cast<double>(clock.elapsed()) / 1000.0,
                player.Position());
    std::printf("device_underflows %llu\nstarved_buffers %llu\n",
                static_cast<unsigned long long>(dropouts.deviceUnderflows),
                static_cast<unsigned long long>(dropouts.starvedBuffers));
    if (sampleMemory)
        std::printf("rss_max_kb %ld\nrss_last_kb %ld\n", maxKb, lastKb);
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
    } catch (const Failure& failure) {
        std::fprintf(stderr, "engine_probe: %s\n", failure.message().c_str());
        return 1;
    }
    return usage();
}
