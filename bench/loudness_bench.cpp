// Measuring the loudness profile of a one-hour log, against a plain libsndfile
// decode of the same file, which is the floor any measurement stands on; and
// reading the stored profile back, as a log measured before is shown.
// Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true.
// The log (48 kHz stereo 16-bit, 691 MB) is written once to $TMPDIR (default
// /tmp) and read from the page cache. Decode and profile are timed in processor
// time, so x_realtime is the speed on one core, whatever else loads the machine.
#include "loudness/log_measurement.h"
#include "loudness/profile_store.h"

#include "hour_programme.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace tarnveil;

namespace {

constexpr int Rate = 48000;
constexpr int64_t ChunkFrames = 48000;

// Programme with pauses, so that the gates have something to leave out.
std::filesystem::path hourLog()
{
    const char* tmp = std::getenv("TMPDIR");
    const auto folder = std::filesystem::path(tmp != nullptr ? tmp : "/tmp") / "tarnveil-loudness-bench";
    std::filesystem::create_directories(folder);
    const auto file = folder / "2026-12-07_14-00-00.wav";
    bench::writeHourProgramme(file, Rate, true);
    return file;
}

void reportHour(benchmark::State& state)
{
    state.counters["x_realtime"] =
        benchmark::Counter(3600.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_PlainDecode(benchmark::State& state)
{
    const auto file = hourLog();
    std::vector<float> buffer(2 * ChunkFrames);
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* in = sf_open(file.c_str(), SFM_READ, &info);
        int64_t total = 0;
        while (const sf_count_t got = sf_readf_float(in, buffer.data(), ChunkFrames))
            total += got;
        sf_close(in);
        benchmark::DoNotOptimize(total);
    }
    reportHour(state);
}
BENCHMARK(BM_PlainDecode)->Unit(benchmark::kMillisecond);

void BM_LoudnessProfile(benchmark::State& state)
{
    const auto file = hourLog();
    MeasureControl control;
    for (auto _ : state) {
        LogMeasurement measurement(file, false);
        measurement.readOn(control);
        benchmark::DoNotOptimize(measurement.profile());
    }
    reportHour(state);
}
BENCHMARK(BM_LoudnessProfile)->Unit(benchmark::kMillisecond);

// What the strip waits for when it opens a one-hour log measured before: the
// profile read back from the catalog (the cold case is BM_LoudnessProfile).
void BM_StoredProfile(benchmark::State& state)
{
    const auto file = hourLog();
    const auto cache = file.parent_path() / "cache";
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    MeasureControl control;
    LogMeasurement measurement(file, false);
    measurement.readOn(control);
    const LogKey key = readLogKey(file.parent_path(), QByteArray::fromStdString(file.filename().string()));
    ProfileStore(file.parent_path()).save(key, measurement.profile());
    for (auto _ : state) {
        ProfileStore store(file.parent_path());
        benchmark::DoNotOptimize(store.load(readLogKey(file.parent_path(), key.name)));
    }
}
BENCHMARK(BM_StoredProfile)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
