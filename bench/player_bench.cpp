// Player timings. Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true.
// Files go to $TMPDIR (default /tmp): a 2 s log and a sparse 2 GiB one that reads as silence.
#include "components/playback_engine.h"
#include "components/playback_feed.h"
#include "components/sound_file.h"
#include "components/wave_out.h"
#include "components/wave_player.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

using namespace tarnveil;

namespace {

std::filesystem::path benchFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    auto folder = std::filesystem::path(tmp != nullptr ? tmp : "/tmp") / "tarnveil-bench";
    std::filesystem::create_directories(folder);
    return folder;
}

void put32(std::vector<char>& bytes, size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

// 48 kHz stereo 16-bit: a real tone for short files, a sparse silent body for the big one.
std::filesystem::path logFile(const char* name, uint64_t dataBytes, bool sparse)
{
    const auto file = benchFolder() / name;
    if (std::filesystem::exists(file) && std::filesystem::file_size(file) == 44 + dataBytes)
        return file;
    if (!sparse) {
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
        std::vector<short> block(2 * 4800);
        for (uint64_t frame = 0; frame < dataBytes / 4; frame += 4800) {
            for (size_t i = 0; i < 4800; ++i)
                block[2 * i] = block[2 * i + 1] = static_cast<short>(12000 * std::sin(static_cast<double>(frame + i) * 0.13));
            sf_writef_short(out, block.data(), static_cast<sf_count_t>(std::min<uint64_t>(4800, dataBytes / 4 - frame)));
        }
        sf_close(out);
        return file;
    }
    std::vector<char> header = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                16, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 16, 0,
                                'd', 'a', 't', 'a', 0, 0, 0, 0};
    put32(header, 4, static_cast<uint32_t>(36 + dataBytes));
    put32(header, 24, 48000);
    put32(header, 28, 48000 * 4);
    put32(header, 40, static_cast<uint32_t>(dataBytes));
    std::ofstream(file, std::ios::binary).write(header.data(), static_cast<std::streamsize>(header.size()));
    std::filesystem::resize_file(file, 44 + dataBytes);
    return file;
}

const std::filesystem::path& shortLog() { static const auto file = logFile("two-seconds.wav", 48000ULL * 4 * 2, false); return file; }
const std::filesystem::path& hugeLog() { static const auto file = logFile("two-gib.wav", (2ULL << 30) - 44, true); return file; }
const std::filesystem::path& minuteLog() { static const auto file = logFile("one-minute.wav", 48000ULL * 4 * 60, false); return file; }

// FileName until the reader has queued enough from position 0 to start the device on.
void BM_OpenToFirstBuffer(benchmark::State& state)
{
    const auto& file = state.range(0) == 0 ? shortLog() : hugeLog();
    PlaybackEngine engine([] {});
    for (auto _ : state) {
        engine.open(file);
        if (!engine.waitForBufferedAudio(std::chrono::seconds(2)))
            state.SkipWithError("the reader never filled its queue");
    }
    state.SetLabel(state.range(0) == 0 ? "2 s log" : "2 GiB log");
}
BENCHMARK(BM_OpenToFirstBuffer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A seek, while stopped, until the reader has queued enough from the new
// position to start the device on.
void BM_SeekToBufferReady(benchmark::State& state)
{
    PlaybackEngine engine([] {});
    engine.open(hugeLog());
    std::mt19937 random(3);
    const int32_t length = engine.lengthMs();
    for (auto _ : state) {
        engine.seek(static_cast<int32_t>(random() % static_cast<uint32_t>(length)));
        if (!engine.waitForBufferedAudio(std::chrono::seconds(2)))
            state.SkipWithError("the reader never refilled its queue");
    }
}
BENCHMARK(BM_SeekToBufferReady)->Unit(benchmark::kMillisecond);

// The whole path of a sample but the device: libsndfile decoding, the queue,
// and the callback's copy with its peak meter. Reported as a multiple of real time.
void BM_DecodeAndMeter(benchmark::State& state)
{
    constexpr size_t Block = 1024;
    SoundFile file(minuteLog());
    PlaybackFeed feed(2, 48000, 32768, Block);
    std::vector<float> decoded(Block * 2);
    std::vector<float> out(Block * 2);
    int64_t frames = 0;
    for (auto _ : state) {
        file.seek(0);
        for (;;) {
            const int64_t got = file.read(decoded.data(), Block);
            if (got == 0)
                break;
            feed.write(decoded.data(), static_cast<size_t>(got));
            feed.pull(out.data(), Block, 0, 0);
            frames += got;
        }
        float peaks[2];
        feed.takeHeardPeaks(0, peaks);
        benchmark::DoNotOptimize(peaks[0]);
    }
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(frames) / 48000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeAndMeter)->Unit(benchmark::kMillisecond);

// Play until the first audio is due at the device's output, by the stream's
// DAC time (the sound server's default device).
void BM_PlayToFirstHeard(benchmark::State& state)
{
    WaveOut devices;
    if (devices.DeviceCount() == 0) {
        state.SkipWithError("no output device");
        return;
    }
    PlaybackEngine engine([] {});
    engine.open(shortLog());
    for (auto _ : state) {
        engine.seek(500);
        engine.waitForBufferedAudio(std::chrono::seconds(1));
        engine.takeLevels();
        const auto start = std::chrono::steady_clock::now();
        try {
            engine.play(0);
        } catch (const std::exception& failure) {
            state.SkipWithError(failure.what());
            return;
        }
        while (engine.takeLevels().peak[0] == 0.0F)
            std::this_thread::yield();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        engine.stop();
    }
}
BENCHMARK(BM_PlayToFirstHeard)->UseManualTime()->Unit(benchmark::kMillisecond);

// A seek while playing, as a slider drag makes dozens of: the GUI thread's
// time in the call, which drops the device's queue and starts it afresh on
// audio the reader queued from the new place.
void BM_SeekWhilePlaying(benchmark::State& state)
{
    WaveOut devices;
    if (devices.DeviceCount() == 0) {
        state.SkipWithError("no output device");
        return;
    }
    PlaybackEngine engine([] {});
    engine.open(minuteLog());
    try {
        engine.play(0);
    } catch (const std::exception& failure) {
        state.SkipWithError(failure.what());
        return;
    }
    std::mt19937 random(5);
    for (auto _ : state)
        engine.seek(static_cast<int32_t>(random() % 50000));
    engine.stop();
}
BENCHMARK(BM_SeekWhilePlaying)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
