// Saving a one-hour clip, per format, against a plain copy of the same log.
// Run with --benchmark_repetitions=3 --benchmark_report_aggregates_only=true.
// The one-hour log (44.1 kHz stereo 16-bit, as the logger records by default,
// 635 MB) and the clips go to $TMPDIR (default /tmp).
#include "timeline/clip_plan.h"
#include "timeline/clip_writer.h"
#include "timeline/log_timeline.h"

#include "hour_programme.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace tarnveil;

namespace {

constexpr int Rate = 44100;
const QByteArray LogName = "2026-12-07_14-00-00.wav";

std::filesystem::path benchFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    auto folder = std::filesystem::path(tmp != nullptr ? tmp : "/tmp") / "tarnveil-clip-bench";
    std::filesystem::create_directories(folder / "logs");
    return folder;
}

std::filesystem::path hourLog()
{
    const auto file = benchFolder() / "logs" / LogName.toStdString();
    bench::writeHourProgramme(file, Rate, false);
    return file;
}

void BM_SaveHourClip(benchmark::State& state)
{
    const auto log = hourLog();
    const std::vector<LogSpan> logs = surveyLogs(log.parent_path(), {LogName}, {});
    const ClipPlan plan = planClip(logs, logs.front().startMs, logs.front().endMs());
    const std::vector<ClipFormat> formats = clipFormats(plan.format, Rate, 2);
    const ClipFormat& format = formats.at(static_cast<size_t>(state.range(0)));
    state.SetLabel(format.caption.toStdString());
    const auto target = benchFolder() / ("clip." + format.suffix.toStdString());
    for (auto _ : state) {
        ClipCancel cancel;
        writeClip(log.parent_path(), plan, format.sndfileFormat, target, true, cancel);
    }
    state.counters["MB"] = static_cast<double>(std::filesystem::file_size(target)) / 1e6;
    std::filesystem::remove(target);
}
BENCHMARK(BM_SaveHourClip)->DenseRange(0, 4)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The peer: the same hour copied byte for byte and flushed to the disk, as a
// save is, the least any save can cost.
void BM_CopyHourLog(benchmark::State& state)
{
    const auto log = hourLog();
    const auto target = benchFolder() / "copy.wav";
    for (auto _ : state) {
        std::filesystem::copy_file(log, target, std::filesystem::copy_options::overwrite_existing);
        const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
        ::fsync(fd);
        ::close(fd);
    }
    std::filesystem::remove(target);
}
BENCHMARK(BM_CopyHourLog)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
