// The logger appending at full speed while the console fixes the live log's
// header a thousand times. The fix-up writes only the two size fields, so
// every audio byte must be the logger's, and the header the logger writes when
// it finishes the file must be the one that stays.

#include "cur_file.h"
#include "log_file_writer.h"
#include "log_signal.h"

#include "console/live_log_header.h"
#include "program/module1.h"
#include "platform/drive_map.h"
#include "support/temp_dir.h"
#include "support/wav_fixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <thread>
#include <vector>

namespace tarnveil::test {
namespace {

namespace fs = std::filesystem;
using logger::LogFileWriter;
using logger::LogSignal;
using logger::Options;
using logger::SampleFormat;

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at)
{
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16
        | uint32_t{bytes[at + 3]} << 24;
}

std::vector<uint8_t> readHead(const fs::path& file, size_t count)
{
    std::vector<uint8_t> bytes(count);
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

// Block sizes that vary, odd ones included, so appends end mid-frame-group
// and at every distance from the header.
int64_t blockSize(size_t i)
{
    return 1 + static_cast<int64_t>((i * 7919) % 997);
}

// Writes the same signal in the same blocks, with nobody else touching the
// file: what the live log must be byte for byte.
void writeExpected(const fs::path& file, const Options& options, size_t blocks)
{
    auto writer = LogFileWriter::create(file, options);
    LogSignal signal(options.sampleRate, options.channels, 1234);
    for (size_t i = 0; i < blocks; ++i)
        writer->append(signal.next(blockSize(i)).data(), blockSize(i));
    writer->finish();
}

struct FormatCase {
    SampleFormat format;
    int channels;
};

void PrintTo(const FormatCase& format, std::ostream* out)
{
    *out << logger::formatInfo(format.format).name << ", " << format.channels << " channel(s)";
}

class LoggerConcurrencyTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(LoggerConcurrencyTest, FixingTheHeaderWhileTheLoggerAppendsLosesNoByte)
{
    TempDir prefix;
    TempDir loggerDrive;
    DriveMap drives(prefix.path());
    fs::create_directories(prefix / "dosdevices");
    fs::create_directory_symlink(loggerDrive.path(), prefix / "dosdevices" / "l:");
    const fs::path loggerFolder = loggerDrive / "logger";
    fs::create_directories(loggerFolder / "logs");
    const fs::path live = loggerFolder / "logs" / "live.wav";

    Options options;
    options.root = loggerDrive.path();
    options.sampleRate = 48000;
    options.channels = GetParam().channels;
    options.format = GetParam().format;
    options.stale = logger::StaleSizes::Zero;
    logger::writeCurFile(loggerFolder, ":\\logger\\logs\\live.wav");

    // The simulator's writer, appending as fast as it can; CurFile rewritten
    // now and then, as the logger does at each file change.
    constexpr int64_t MaxFrames = 48000 * 60; // a bound on the file, not on the time
    std::atomic<bool> stop{false};
    std::atomic<size_t> blocksWritten{0};
    std::atomic<int64_t> framesWritten{0};
    auto writer = LogFileWriter::create(live, options);
    std::thread logger([&] {
        LogSignal signal(options.sampleRate, options.channels, 1234);
        for (size_t i = 0; !stop.load(); ++i) {
            if (framesWritten.load() >= MaxFrames) {
                std::this_thread::yield();
                continue;
            }
            writer->append(signal.next(blockSize(i)).data(), blockSize(i));
            framesWritten.fetch_add(blockSize(i));
            blocksWritten.store(i + 1);
            if (i % 64 == 0)
                logger::writeCurFile(loggerFolder, ":\\logger\\logs\\live.wav");
        }
    });

    Module1 module(drives);
    module.LoggerDrive = "L";
    const std::string selected = "L:\\logger\\logs\\live.wav";
    std::set<uint32_t> lengthsSeen;
    for (int i = 0; i < 1000; ++i) {
        // Every ten fix-ups, make sure the logger has appended meanwhile, so the
        // two really run side by side whatever the machine's load.
        if (i % 10 == 0) {
            const size_t before = blocksWritten.load();
            while (blocksWritten.load() == before && framesWritten.load() < MaxFrames)
                std::this_thread::yield();
        }
        FixLiveLogHeader(module, selected);
        ASSERT_EQ(module.CurrentLogPath, selected);
        const std::vector<uint8_t> header = readHead(live, 46);
        ASSERT_EQ(header.size(), 46U);
        // Whatever the moment, the sizes never claim more than the file holds.
        const uint64_t length = fs::file_size(live);
        const uint32_t riff = le32(header, 4);
        const uint32_t data = le32(header, 42);
        ASSERT_LE(uint64_t{riff} + 8, length);
        ASSERT_LE(uint64_t{data} + 46, uint64_t{riff} + 8);
        lengthsSeen.insert(riff);
    }
    stop.store(true);
    logger.join();
    const size_t blocks = blocksWritten.load();
    writer->finish();

    EXPECT_GT(lengthsSeen.size(), 1U) << "the logger never appended during the fix-ups";
    const fs::path expected = loggerFolder / "expected.wav";
    writeExpected(expected, options, blocks);
    const std::vector<uint8_t> got = readBytes(live);
    const std::vector<uint8_t> want = readBytes(expected);
    ASSERT_EQ(got.size(), want.size());
    // The header is the logger's finished one, the audio the logger's own.
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 46, want.begin()));
    size_t firstDifference = got.size();
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] != want[i]) {
            firstDifference = i;
            break;
        }
    }
    EXPECT_EQ(firstDifference, got.size()) << "the live log differs from the logger's bytes at " << firstDifference;
}

INSTANTIATE_TEST_SUITE_P(Formats, LoggerConcurrencyTest,
                         ::testing::Values(FormatCase{SampleFormat::Pcm16, 2}, FormatCase{SampleFormat::Pcm24, 1},
                                           FormatCase{SampleFormat::ALaw, 1}),
                         [](const auto& info) {
                             switch (info.param.format) {
                             case SampleFormat::Pcm16: return std::string("Pcm16Stereo");
                             case SampleFormat::Pcm24: return std::string("Pcm24Mono");
                             default: return std::string("ALawMono");
                             }
                         });

} // namespace
} // namespace tarnveil::test
