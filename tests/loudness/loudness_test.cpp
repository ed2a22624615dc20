#include "loudness/log_measurement.h"
#include "loudness/profile_service.h"
#include "loudness/silences.h"

#include "support/fuse_share.h"
#include "support/temp_dir.h"
#include "support/wav_fixtures.h"

#include <ebur128.h>
#include <QProcess>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <numbers>

namespace tarnveil::test {
namespace {

namespace fs = std::filesystem;

constexpr int Rate = 48000;

// A stretch of a generated log: a 1 kHz sine at `dbfs` (peak), or silence.
struct Piece {
    double seconds;
    std::optional<double> dbfs;
};

void writeLog(const fs::path& file, int channels, const std::vector<Piece>& pieces, int format = SF_FORMAT_PCM_24)
{
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* handle = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(handle, nullptr);
    int64_t frame = 0;
    for (const Piece& piece : pieces) {
        const auto frames = static_cast<int64_t>(std::llround(piece.seconds * Rate));
        const double amplitude = piece.dbfs ? std::pow(10.0, *piece.dbfs / 20) : 0.0;
        std::vector<float> samples(static_cast<size_t>(frames * channels));
        for (int64_t i = 0; i < frames; ++i, ++frame)
            for (int c = 0; c < channels; ++c)
                samples[static_cast<size_t>(i * channels + c)] =
                    static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * 1000.0 * frame / Rate));
        ASSERT_EQ(sf_writef_float(handle, samples.data(), frames), frames);
    }
    sf_close(handle);
}

LoudnessProfile measure(const fs::path& file)
{
    MeasureControl control;
    LogMeasurement measurement(file, false);
    EXPECT_TRUE(measurement.readOn(control));
    return measurement.profile();
}

// Logs of 16 bits are measured from whole numbers, others from floats.
constexpr int SampleFormats[] = {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24};

// The reference tone of EBU Tech 3341: a 1 kHz sine at -23 dBFS in both
// channels reads -23 LUFS. A mono log counts as heard on both speakers.
TEST(LoudnessProfile, ReferenceTonesMeasureTheirLevel)
{
    TempDir folder;
    for (const double level : {-23.0, -33.0}) {
        for (const int channels : {2, 1}) {
            for (const int format : SampleFormats) {
                SCOPED_TRACE(testing::Message() << level << " dBFS, " << channels << " channels, format " << format);
                const fs::path file = folder / "tone.wav";
                writeLog(file, channels, {{20, level}}, format);
                const LoudnessProfile profile = measure(file);
                EXPECT_NEAR(profile.integrated, level, 0.1);
                EXPECT_NEAR(profile.maxPeak, level, 0.05);
                EXPECT_NEAR(profile.range, 0, 0.1);
                ASSERT_EQ(profile.steps(), 200U);
                EXPECT_NEAR(profile.shortTerm.back(), level, 0.1);
                EXPECT_NEAR(profile.momentary[100], level, 0.1);
                EXPECT_NEAR(profile.peak[100], level, 0.05);
            }
        }
    }
}

// The gates are ours, over the library's 100 ms steps: they must agree with
// the library's own integrated loudness and loudness range on a programme
// whose level moves, pauses included (which the gates leave out).
TEST(LoudnessProfile, GatedMeasuresAgreeWithTheLibrarysOwn)
{
    TempDir folder;
    for (const int format : SampleFormats) {
        SCOPED_TRACE(format);
        const fs::path file = folder / "programme.wav";
        writeLog(file, 2, {{8, -18}, {5, -30}, {6, std::nullopt}, {12, -24}, {4, -41}, {9, -27}, {3, -75}, {7, -21}},
                 format);

        const DecodedLog decoded = decodeLog(file);
        ebur128_state* reference = ebur128_init(2, Rate, EBUR128_MODE_I | EBUR128_MODE_LRA);
        ebur128_add_frames_float(reference, decoded.samples.data(), static_cast<size_t>(decoded.frames));
        double integrated = 0, range = 0;
        ebur128_loudness_global(reference, &integrated);
        ebur128_loudness_range(reference, &range);
        ebur128_destroy(&reference);

        const LoudnessProfile profile = measure(file);
        EXPECT_NEAR(profile.integrated, integrated, 0.05);
        EXPECT_NEAR(profile.range, range, 0.05);
        EXPECT_GT(profile.range, 5.0);
    }
}

// Silences are found within one step of where they were written: inside a
// log, at its very start and end, and across the seam of two consecutive
// logs, where they make one stretch; a gap between logs ends a stretch.
TEST(LoudnessProfile, SilencesAreFoundWhereTheyAreAlsoAcrossTwoLogs)
{
    TempDir folder;
    writeLog(folder / "a.wav", 2, {{1.5, std::nullopt}, {10.25, -20}, {12.34, std::nullopt}, {3, -60}, {4.0, -20},
                                   {15.5, std::nullopt}});
    writeLog(folder / "b.wav", 2, {{20.05, std::nullopt}, {30, -20}, {11, std::nullopt}});
    writeLog(folder / "c.wav", 2, {{12, std::nullopt}, {5, -20}});

    auto profiled = [&](const char* name, int64_t startMs) {
        LogSpan span;
        span.name = name;
        span.startMs = startMs;
        return ProfiledLog{span, std::make_shared<LoudnessProfile>(measure(folder / name))};
    };
    const int64_t t0 = 1'800'000'000'000;
    const ProfiledLog a = profiled("a.wav", t0);
    const ProfiledLog b = profiled("b.wav", t0 + a.profile->lengthMs() + 400);
    const ProfiledLog c = profiled("c.wav", t0 + a.profile->lengthMs() + 400 + b.profile->lengthMs() + 5000);

    const std::vector<SilentStretch> found = findSilences({a, b, c}, -50, 10'000);
    struct Expected {
        int64_t startMs, endMs;
        const char* log;
    };
    const int64_t aEnd = t0 + a.profile->lengthMs();
    const int64_t bStart = b.span.startMs;
    const Expected expected[] = {
        {t0 + 11'750, t0 + 27'090, "a.wav"}, // the -60 dBFS tone counts as silence
        {aEnd - 15'500, bStart + 20'050, "a.wav"},
        {bStart + 50'050, bStart + 61'050, "b.wav"},
        {c.span.startMs, c.span.startMs + 12'000, "c.wav"},
    };
    ASSERT_EQ(found.size(), std::size(expected));
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(found[i].startMs, expected[i].startMs, 100);
        EXPECT_NEAR(found[i].endMs, expected[i].endMs, 100);
        EXPECT_EQ(found[i].log, expected[i].log);
    }
    // The short silence at the start of a.wav is shorter than the minimum.
    EXPECT_EQ(findSilences({a}, -50, 1'000).front().startMs, t0);
}

std::shared_ptr<const LoudnessProfile> profileFromService(const fs::path& logFolder, const QByteArray& name)
{
    ProfileService service(logFolder, "L:\\logger\\logs");
    QSignalSpy profiled(&service, &ProfileService::profiled);
    QSignalSpy failed(&service, &ProfileService::failed);
    service.request(name, false, true);
    while (profiled.isEmpty() && failed.isEmpty())
        profiled.wait(100);
    EXPECT_TRUE(failed.isEmpty()) << failed.value(0).value(1).toString().toStdString();
    return service.profile(name);
}

// The catalog keeps a finished log's profile across a restart, keyed by the
// log's size and time: a log written over in place with the same size and time
// still reads as stored (which shows where the profile came from), while a log
// replaced by the logger is measured again.
TEST(LoudnessProfile, StoredProfileSurvivesRestartAndReplacedLogIsMeasuredAgain)
{
    TempDir cache;
    setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    TempDir folder;
    const fs::path log = folder / "2026-12-07_14-00-00.wav";
    writeLog(log, 2, {{5, -20}});
    EXPECT_NEAR(profileFromService(folder.path(), "2026-12-07_14-00-00.wav")->integrated, -20, 0.1);

    struct stat before {};
    ASSERT_EQ(stat(log.c_str(), &before), 0);
    writeLog(log, 2, {{5, -30}});
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, log.c_str(), times, 0), 0);
    EXPECT_NEAR(profileFromService(folder.path(), "2026-12-07_14-00-00.wav")->integrated, -20, 0.1);

    const timespec later[2] = {before.st_atim, {before.st_mtim.tv_sec + 60, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, log.c_str(), later, 0), 0);
    EXPECT_NEAR(profileFromService(folder.path(), "2026-12-07_14-00-00.wav")->integrated, -30, 0.1);
    unsetenv("XDG_CACHE_HOME");
}

struct ProgramRun {
    int status;
    std::string out;
    std::string err;
};

ProgramRun runProgram(const fs::path& prefix, const fs::path& cache, const QStringList& arguments)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARNVEIL_PREFIX"), QString::fromStdString(prefix.string()));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), QString::fromStdString(cache.string()));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TARNVEIL_PROGRAM), arguments);
    EXPECT_TRUE(program.waitForFinished(60000));
    return {program.exitCode(), program.readAllStandardOutput().toStdString(),
            program.readAllStandardError().toStdString()};
}

// The reports from the command line, with no display: dead air across the
// seam of two logs is one stretch, a log that cannot be read is listed and
// reported with its failure, and an unmapped drive or a share that does not
// answer is a failure with its number.
TEST(LoudnessReports, CommandLineWritesBothReportsWithoutADisplay)
{
    TempDir prefix, logger, cache;
    fs::create_directories(prefix / "drive_c/program files/Tarnveil");
    fs::create_directories(prefix / "dosdevices");
    fs::create_symlink("../drive_c", prefix / "dosdevices/c:");
    writeBytes(prefix / "drive_c/program files/Tarnveil/ZeVudi.ini", {'0', 'L'});
    const fs::path logs = logger / "logger/logs";
    fs::create_directories(logs);
    writeLog(logs / "2026-03-14_09-00-00.wav", 2, {{30, -23}, {12.5, std::nullopt}});
    writeLog(logs / "2026-03-14_09-00-42.wav", 2, {{4.5, std::nullopt}, {20, -33}});

    const QStringList silence{"report", "silence", "--from", "2026-03-14 08:00:00", "--to", "2026-03-14 10:00:00"};
    ProgramRun run = runProgram(prefix.path(), cache.path(), silence);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.starts_with("382 ")) << run.err;

    fs::create_symlink(logger.path(), prefix / "dosdevices/l:");
    run = runProgram(prefix.path(), cache.path(), silence);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::string("start,end,length_s,log\n"
                                      "2026-03-14 09:00:30.000,2026-03-14 09:00:46.500,16.500,2026-03-14_09-00-00.wav\n"));

    writeBytes(logs / "2026-03-14_09-30-00.wav", {'R', 'I', 'F', 'F', 0, 0});
    run = runProgram(prefix.path(), cache.path(),
                     {"report", "loudness", "--from", "2026-03-14 09:00:00", "--to", "2026-03-14 10:00:00"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string("log,start,integrated_lufs,range_lu,max_sample_peak_dbfs\n"
                                      "2026-03-14_09-00-00.wav,2026-03-14 09:00:00.000,-23.0,0.0,-23.0\n"
                                      "2026-03-14_09-00-42.wav,2026-03-14 09:00:42.000,-33.0,0.8,-33.0\n"
                                      "2026-03-14_09-30-00.wav,2026-03-14 09:30:00.000,,,\n"));
    EXPECT_TRUE(run.err.starts_with("321 ")) << run.err;

    // A share that stops answering is a failure within the drive's deadline, not a hang.
    if (!FuseShare::unavailable().empty())
        GTEST_SKIP() << FuseShare::unavailable();
    FuseShare share(logger.path());
    fs::remove(prefix / "dosdevices/l:");
    fs::create_symlink(share.mountPoint(), prefix / "dosdevices/l:");
    share.freeze();
    run = runProgram(prefix.path(), cache.path(), silence);
    EXPECT_TRUE(share.frozen());
    share.thaw();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "57 Device I/O error: L:\\logger\\logs does not answer\n");
}

} // namespace
} // namespace tarnveil::test
