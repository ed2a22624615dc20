#include "console/cur_file.h"
#include "console/live_log_header.h"
#include "program/module1.h"
#include "console/wave_header.h"
#include "platform/drive_map.h"
#include "platform/failure.h"

#include "support/temp_dir.h"
#include "support/wav_fixtures.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace tarnveil {
namespace {

namespace fs = std::filesystem;
using test::pcmWavImage;
using test::readBytes;
using test::TempDir;
using test::writeBytes;

using Bytes = std::vector<uint8_t>;

void put32(Bytes& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get32(const Bytes& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | bytes[at + static_cast<size_t>(i)];
    return value;
}

void append(Bytes& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void append32(Bytes& out, uint32_t value)
{
    out.resize(out.size() + 4);
    put32(out, out.size() - 4, value);
}

Bytes pattern(size_t count, uint8_t seed = 0)
{
    Bytes data(count);
    for (size_t i = 0; i < count; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + seed);
    return data;
}

// A header the way a logger leaves it while recording: the sizes still say
// "nothing recorded yet".
Bytes staleHeader(Bytes image, size_t dataSizeOffset)
{
    put32(image, 4, 0);
    put32(image, dataSizeOffset, 0);
    return image;
}

// RIFF/WAVE with the given chunks before the data chunk, followed by `data`.
Bytes waveWithChunks(const std::vector<std::pair<std::string, Bytes>>& chunks, const Bytes& data)
{
    Bytes out;
    append(out, "RIFF");
    append32(out, 0);
    append(out, "WAVE");
    for (const auto& [tag, body] : chunks) {
        append(out, tag);
        append32(out, static_cast<uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
        if (body.size() % 2 == 1)
            out.push_back(0);
    }
    append(out, "data");
    append32(out, 0);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// The format chunk body: PCM with the given block alignment, 16 or 18 bytes.
Bytes formatBody(uint16_t channels, uint16_t bits, bool withExtraSize)
{
    Bytes body(withExtraSize ? 18 : 16, 0);
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    body[0] = 1;
    body[2] = static_cast<uint8_t>(channels);
    put32(body, 4, 8000);
    put32(body, 8, 8000u * align);
    body[12] = static_cast<uint8_t>(align);
    body[14] = static_cast<uint8_t>(bits);
    return body;
}

class LiveLogHeaderTest : public testing::Test {
protected:
    LiveLogHeaderTest() : drives(prefix.path()), module(drives)
    {
        fs::create_directories(prefix / "dosdevices");
        fs::create_directories(logs());
        fs::create_directory_symlink(drive.path(), prefix / "dosdevices" / "l:");
        module.LoggerDrive = "L";
    }

    fs::path logs() const { return drive / "logger" / "logs"; }
    fs::path curFile() const { return drive / "logger" / "CurFile"; }

    // CurFile as the logger writes it: a 128-byte record holding count and name.
    void nameLiveLog(std::string_view name)
    {
        Bytes record(128, 0);
        record[0] = static_cast<uint8_t>(name.size());
        record[1] = static_cast<uint8_t>(name.size() >> 8);
        std::copy(name.begin(), name.end(), record.begin() + 2);
        writeBytes(curFile(), record);
    }

    // Writes `image` as logs/<name>, marks it live and runs the fix-up on it.
    Bytes fixLive(const std::string& name, const Bytes& image)
    {
        writeBytes(logs() / name, image);
        nameLiveLog(":\\logger\\logs\\" + name);
        FixLiveLogHeader(module, "L:\\logger\\logs\\" + name);
        EXPECT_EQ(module.CurrentLogPath, "L:\\logger\\logs\\" + name);
        return readBytes(logs() / name);
    }

    TempDir prefix;
    TempDir drive;
    DriveMap drives;
    Module1 module;
};

TEST_F(LiveLogHeaderTest, SizesGoWhereverTheDataChunkIs)
{
    Bytes list;
    append(list, "INFOICMT");
    append32(list, 5);
    append(list, "odd!x"); // odd chunk size: the walk must skip the pad byte
    struct Shape {
        const char* what;
        Bytes image;
        size_t dataSizeOffset;
    };
    const Shape shapes[] = {
        {"16-byte format", staleHeader(pcmWavImage(8000, 2, 16, pattern(4000)), 40), 40},
        {"18-byte format", waveWithChunks({{"fmt ", formatBody(1, 16, true)}}, pattern(4000)), 42},
        {"bext, fact, LIST", waveWithChunks({{"bext", Bytes(602, 'b')}, {"fmt ", formatBody(2, 16, false)},
                                             {"fact", Bytes(4, 0)}, {"LIST", list}}, pattern(4000)),
         12 + 8 + 602 + 8 + 16 + 8 + 4 + 8 + 18 + 4},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.what);
        Bytes expected = shape.image;
        put32(expected, 4, static_cast<uint32_t>(shape.image.size() - 8));
        put32(expected, shape.dataSizeOffset, 4000);
        // Comparing whole files: nothing but the two sizes may change.
        EXPECT_EQ(fixLive("live.wav", shape.image), expected);
    }
}

TEST_F(LiveLogHeaderTest, PartFrameAtTheEndIsLeftOutOfTheDataSize)
{
    // 24-bit stereo: 6-byte frames; 1003 bytes hold 167 whole frames.
    const Bytes original = waveWithChunks({{"fmt ", formatBody(2, 24, false)}}, pattern(1003));
    const Bytes fixed = fixLive("live.wav", original);
    EXPECT_EQ(get32(fixed, 4), original.size() - 8);
    EXPECT_EQ(get32(fixed, 40), 167u * 6u);
}

TEST_F(LiveLogHeaderTest, HeadersOfUnknownShapeAreNotWritten)
{
    Bytes wrongTag = pcmWavImage(8000, 2, 16, pattern(100));
    wrongTag[0] = 'R', wrongTag[3] = 'X';
    Bytes notWave = pcmWavImage(8000, 2, 16, pattern(100));
    notWave[8] = 'A';
    Bytes shortFormat = waveWithChunks({{"fmt ", Bytes(14, 1)}}, pattern(100));
    Bytes dataFirst = waveWithChunks({}, pattern(100));
    Bytes noData = pcmWavImage(8000, 2, 16, pattern(100));
    noData[36] = 'D';
    // A chunk claiming more bytes than the file holds hides the data chunk.
    Bytes overlong = waveWithChunks({{"fmt ", formatBody(2, 16, false)}, {"LIST", Bytes(10, 0)}}, pattern(100));
    put32(overlong, 40, 0x7FFFFFF0);
    Bytes thirtyBytes = pcmWavImage(8000, 2, 16, {});
    thirtyBytes.resize(30);

    int index = 0;
    for (const Bytes& image : {wrongTag, notWave, shortFormat, dataFirst, noData, overlong, thirtyBytes, Bytes{}}) {
        SCOPED_TRACE(index);
        const std::string name = "odd" + std::to_string(index++) + ".wav";
        EXPECT_EQ(fixLive(name, image), image);
    }
}

TEST_F(LiveLogHeaderTest, AFinishedLogThatCurFileStillNamesIsNeverWritten)
{
    // Finished with a chunk after its audio: its sizes already account for the
    // whole file, and sizes worked out from the length would take the chunk
    // into the audio.
    Bytes finished = pcmWavImage(8000, 2, 16, pattern(4000));
    append(finished, "LIST");
    append32(finished, 12);
    append(finished, "INFOICMTodd!");
    put32(finished, 4, static_cast<uint32_t>(finished.size() - 8));
    EXPECT_EQ(fixLive("finished.wav", finished), finished);

    // Sizes the logger has written that claim more than the file holds now
    // are not cut back either.
    Bytes claimsMore = pcmWavImage(8000, 2, 16, pattern(4000));
    put32(claimsMore, 4, static_cast<uint32_t>(claimsMore.size()));
    EXPECT_EQ(fixLive("ahead.wav", claimsMore), claimsMore);
    Bytes dataAhead = staleHeader(pcmWavImage(8000, 2, 16, pattern(4000)), 40);
    put32(dataAhead, 40, 4002);
    EXPECT_EQ(fixLive("data-ahead.wav", dataAhead), dataAhead);
}

TEST_F(LiveLogHeaderTest, CurFileMustBeARegularFileAndListedNamesAreOneName)
{
    // A FIFO has no writer: opening it for reading would wait for ever.
    ASSERT_EQ(::mkfifo(curFile().c_str(), 0600), 0);
    EXPECT_THROW(FixLiveLogHeader(module, "L:\\logger\\logs\\x.wav"), Failure);
    fs::remove(curFile());
    // A device reads without complaint (nothing but zeros, naming no log), so
    // only the check of the file's kind refuses it.
    fs::create_symlink("/dev/zero", curFile());
    EXPECT_THROW(FixLiveLogHeader(module, "L:\\logger\\logs\\x.wav"), Failure);
    fs::remove(curFile());

    // A backslash in a listed name belongs to the name: the log named a\b.wav
    // is rewritten, not b.wav in the folder a.
    const Bytes stale = staleHeader(pcmWavImage(8000, 2, 16, pattern(400)), 40);
    writeBytes(logs() / "a\\b.wav", stale);
    fs::create_directories(logs() / "a");
    writeBytes(logs() / "a" / "b.wav", stale);
    nameLiveLog(":\\logger\\logs\\a\\b.wav");
    const LoggerPlaces places = LoggerPlaces::of(module);
    const std::string path = places.drivePath("a\\b.wav");
    EXPECT_EQ(path, "L:\\logger\\logs\\a\\b.wav");
    EXPECT_EQ(fixLiveLogHeader(places, path, places.file("a\\b.wav")), path);
    EXPECT_EQ(get32(readBytes(logs() / "a\\b.wav"), 40), 400U);
    EXPECT_EQ(readBytes(logs() / "a" / "b.wav"), stale);

    // A name below a dated sub-folder is found there, and CurFile names it
    // with backslashes.
    fs::create_directories(logs() / "2026-12-07");
    writeBytes(logs() / "2026-12-07" / "c.wav", stale);
    nameLiveLog(":\\logger\\logs\\2026-12-07\\c.wav");
    const std::string dated = places.drivePath("2026-12-07/c.wav");
    EXPECT_EQ(fixLiveLogHeader(places, dated, places.file("2026-12-07/c.wav")), dated);
    EXPECT_EQ(get32(readBytes(logs() / "2026-12-07" / "c.wav"), 40), 400U);
}

TEST_F(LiveLogHeaderTest, OnlyTheExactNameMakesALogLive)
{
    const Bytes original = staleHeader(pcmWavImage(8000, 2, 16, pattern(400)), 40);
    writeBytes(logs() / "Live.wav", original);

    for (const std::string named : {":\\logger\\logs\\live.wav", "L:\\logger\\logs\\Live.wav",
                                     ":\\LOGGER\\logs\\Live.wav", ":\\logger\\logs\\Live.wav "}) {
        nameLiveLog(named);
        FixLiveLogHeader(module, "L:\\logger\\logs\\Live.wav");
        EXPECT_EQ(module.CurrentLogPath, "L" + named);
        EXPECT_EQ(readBytes(logs() / "Live.wav"), original) << named;
    }
}

TEST_F(LiveLogHeaderTest, LogThatIsNotLiveIsNeverWritten)
{
    const Bytes original = staleHeader(pcmWavImage(8000, 2, 16, pattern(400)), 40);
    const fs::path other = logs() / "other.wav";
    writeBytes(other, original);
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(3);
    fs::last_write_time(other, past);

    nameLiveLog(":\\logger\\logs\\live.wav");
    FixLiveLogHeader(module, "L:\\logger\\logs\\other.wav");
    EXPECT_EQ(module.CurrentLogPath, "L:\\logger\\logs\\live.wav");
    EXPECT_EQ(readBytes(other), original);
    EXPECT_EQ(fs::last_write_time(other), past);
}

TEST_F(LiveLogHeaderTest, EachOpeningRewritesFromTheLengthThen)
{
    const Bytes first = staleHeader(pcmWavImage(8000, 1, 16, pattern(200)), 40);
    Bytes fixed = fixLive("live.wav", first);
    EXPECT_EQ(get32(fixed, 40), 200u);

    {
        std::ofstream more(logs() / "live.wav", std::ios::binary | std::ios::app);
        more << std::string(300, 'z');
    }
    FixLiveLogHeader(module, "L:\\logger\\logs\\live.wav");
    fixed = readBytes(logs() / "live.wav");
    ASSERT_EQ(fixed.size(), 544u);
    EXPECT_EQ(get32(fixed, 4), 536u);
    EXPECT_EQ(get32(fixed, 40), 500u);
}

TEST_F(LiveLogHeaderTest, LoggerAppendingMeanwhileLosesNoByte)
{
    const Bytes header = staleHeader(pcmWavImage(8000, 2, 16, {}), 40);
    const fs::path live = logs() / "live.wav";
    writeBytes(live, header);
    nameLiveLog(":\\logger\\logs\\live.wav");

    constexpr size_t Blocks = 3000;
    constexpr size_t BlockSize = 64;
    std::atomic<bool> done{false};
    std::thread logger([&] {
        const int fd = ::open(live.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        for (size_t i = 0; i < Blocks; ++i) {
            const Bytes block = pattern(BlockSize, static_cast<uint8_t>(i));
            if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size()))
                break;
        }
        ::close(fd);
        done = true;
    });
    int runs = 0;
    while (!done || runs < 10) {
        FixLiveLogHeader(module, "L:\\logger\\logs\\live.wav");
        ++runs;
    }
    logger.join();
    FixLiveLogHeader(module, "L:\\logger\\logs\\live.wav");

    const Bytes after = readBytes(live);
    ASSERT_EQ(after.size(), header.size() + Blocks * BlockSize);
    for (size_t i = 0; i < Blocks; ++i) {
        const Bytes block = pattern(BlockSize, static_cast<uint8_t>(i));
        ASSERT_TRUE(std::equal(block.begin(), block.end(), after.begin() + 44 + static_cast<long>(i * BlockSize)))
            << "block " << i;
    }
    // The run after the logger stopped saw the finished file.
    EXPECT_EQ(get32(after, 4), after.size() - 8);
    EXPECT_EQ(get32(after, 40), Blocks * BlockSize);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 4, header.begin()));
    EXPECT_TRUE(std::equal(after.begin() + 8, after.begin() + 40, header.begin() + 8));
}

TEST_F(LiveLogHeaderTest, LargeLogIsFixedInPlaceWithoutGrowing)
{
    const fs::path live = logs() / "big.wav";
    writeBytes(live, staleHeader(pcmWavImage(8000, 2, 16, {}), 40));
    constexpr uintmax_t Length = 3'000'000'000u; // sparse: costs no disk space
    std::error_code error;
    fs::resize_file(live, Length, error);
    if (error)
        GTEST_SKIP() << "no sparse file here: " << error.message();

    nameLiveLog(":\\logger\\logs\\big.wav");
    FixLiveLogHeader(module, "L:\\logger\\logs\\big.wav");
    EXPECT_EQ(fs::file_size(live), Length);
    std::ifstream in(live, std::ios::binary);
    Bytes head(44);
    in.read(reinterpret_cast<char*>(head.data()), 44);
    EXPECT_EQ(get32(head, 4), Length - 8);
    EXPECT_EQ(get32(head, 40), Length - 44);
}

TEST_F(LiveLogHeaderTest, WithoutCurFileNothingIsLive)
{
    const Bytes original = staleHeader(pcmWavImage(8000, 2, 16, pattern(40)), 40);
    writeBytes(logs() / "live.wav", original);
    FixLiveLogHeader(module, "L:\\logger\\logs\\live.wav");
    EXPECT_EQ(module.CurrentLogPath, "L");

    // An empty CurFile or a count of 0 names nothing either.
    writeBytes(curFile(), {});
    FixLiveLogHeader(module, "L");
    EXPECT_EQ(module.CurrentLogPath, "L");
    nameLiveLog("");
    FixLiveLogHeader(module, "L");
    EXPECT_EQ(module.CurrentLogPath, "L");
    EXPECT_EQ(readBytes(logs() / "live.wav"), original);
}

TEST_F(LiveLogHeaderTest, DamagedCurFileFails)
{
    Bytes tooLong(200, 'a');
    tooLong[0] = 127, tooLong[1] = 0;
    writeBytes(curFile(), tooLong);
    try {
        FixLiveLogHeader(module, "L:\\logger\\logs\\x.wav");
        FAIL() << "a 127-character name was accepted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::InvalidFileFormat);
    }

    writeBytes(curFile(), {20, 0, ':', '\\'});
    try {
        FixLiveLogHeader(module, "L:\\logger\\logs\\x.wav");
        FAIL() << "a cut-short name was accepted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::InputPastEnd);
    }

    fs::remove(curFile());
    fs::create_directory(curFile());
    EXPECT_THROW(FixLiveLogHeader(module, "L:\\logger\\logs\\x.wav"), Failure);
}

TEST_F(LiveLogHeaderTest, UnreachableLoggerFolderOrDriveFails)
{
    fs::remove_all(drive / "logger");
    try {
        FixLiveLogHeader(module, "L:\\logger\\logs\\x.wav");
        FAIL() << "missing logger folder accepted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::PathNotFound);
    }

    module.LoggerDrive = std::string(1, '\0');
    try {
        FixLiveLogHeader(module, "L:\\logger\\logs\\x.wav");
        FAIL() << "NUL drive accepted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::NoSuchDrive);
    }
}

TEST_F(LiveLogHeaderTest, LiveLogThatCannotBeOpenedFails)
{
    nameLiveLog(":\\logger\\logs\\gone.wav");
    try {
        FixLiveLogHeader(module, "L:\\logger\\logs\\gone.wav");
        FAIL() << "a missing live log was accepted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::FileNotFound);
    }
    EXPECT_FALSE(fs::exists(logs() / "gone.wav"));
}

TEST(CurFileParse, LongestNameAndRawBytes)
{
    Bytes longest(128, 'x');
    longest[0] = 126, longest[1] = 0;
    EXPECT_EQ(parseCurFile(longest).size(), 126u);
    longest[0] = 0, longest[1] = 1; // 256: the high byte counts
    EXPECT_THROW(parseCurFile(longest), Failure);
    EXPECT_THROW(parseCurFile(Bytes{3}), Failure); // count cut short, name missing
    // Bytes are taken as they are: no code-page translation, NULs kept.
    EXPECT_EQ(parseCurFile(Bytes{2, 0, 0xC4, 0, 'z'}), std::string("\xC4\0", 2));
}

TEST(WaveSizes, LengthsFromFourGibibytesOnAreLeftAlone)
{
    const Bytes head = pcmWavImage(8000, 2, 16, {});
    const auto almost = locateWaveSizes(head, 0xFFFFFFFFu);
    ASSERT_TRUE(almost.has_value());
    EXPECT_EQ(almost->riffSize, 0xFFFFFFF7u);
    EXPECT_EQ(almost->dataSize, (0xFFFFFFFFu - 44u) / 4u * 4u);
    EXPECT_FALSE(locateWaveSizes(head, 0x100000000u).has_value());
}

TEST(WaveSizes, BlockAlignZeroCountsBytes)
{
    Bytes head = waveWithChunks({{"fmt ", Bytes(16, 0)}}, pattern(7));
    const auto fix = locateWaveSizes(head, head.size());
    ASSERT_TRUE(fix.has_value());
    EXPECT_EQ(fix->dataSize, 7u);
    EXPECT_EQ(fix->dataSizeOffset, 40u);
}

} // namespace
} // namespace tarnveil
