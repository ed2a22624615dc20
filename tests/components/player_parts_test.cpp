#include "components/channel_mixer.h"
#include "components/dac_timeline.h"
#include "components/file_reader.h"
#include "components/live_follow.h"
#include "components/log_growth.h"
#include "components/playback_engine.h"
#include "components/playback_feed.h"
#include "components/ring_buffer.h"
#include "components/sound_file.h"
#include "support/temp_dir.h"
#include "support/wav_fixtures.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <future>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

using namespace tarnveil;
using namespace tarnveil::test;

TEST(SpscRing, TwoThreadsPassEveryElementInOrder)
{
    constexpr uint32_t Total = 3'000'000;
    SpscRing<uint32_t> ring(1000); // rounded up to 1024: chunks wrap at every offset
    ASSERT_EQ(ring.capacity(), 1024U);

    std::thread producer([&] {
        std::mt19937 random(1);
        std::vector<uint32_t> chunk(700);
        uint32_t next = 0;
        while (next < Total) {
            const uint32_t size = std::min<uint32_t>(1 + random() % 700, Total - next);
            std::iota(chunk.begin(), chunk.begin() + size, next);
            size_t done = 0;
            while (done < size)
                done += ring.write(chunk.data() + done, size - done);
            next += size;
        }
    });

    std::mt19937 random(2);
    std::vector<uint32_t> chunk(900);
    uint32_t expected = 0;
    bool inOrder = true;
    while (expected < Total && inOrder) {
        const size_t got = ring.read(chunk.data(), 1 + random() % 900);
        for (size_t i = 0; i < got && inOrder; ++i)
            inOrder = chunk[i] == expected++;
    }
    producer.join();
    EXPECT_TRUE(inOrder) << "element " << expected - 1 << " out of place";
    EXPECT_EQ(expected, Total);
    EXPECT_EQ(ring.readable(), 0U);
}

TEST(ChannelMixer, FoldsSurroundToStereoWithoutClipping)
{
    // 5.1 in the customary WAVE order: FL FR FC LFE BL BR.
    const ChannelMixer mixer(6, {}, 2);
    auto mixOne = [&](std::vector<float> frame) {
        std::vector<float> out(2);
        mixer.mix(frame.data(), out.data(), 1);
        return out;
    };
    const std::vector<float> frontLeft = mixOne({1, 0, 0, 0, 0, 0});
    EXPECT_GT(frontLeft[0], 0.0F);
    EXPECT_EQ(frontLeft[1], 0.0F);
    const std::vector<float> backRight = mixOne({0, 0, 0, 0, 0, 1});
    EXPECT_EQ(backRight[0], 0.0F);
    EXPECT_GT(backRight[1], 0.0F);
    const std::vector<float> centre = mixOne({0, 0, 1, 0, 0, 0});
    EXPECT_FLOAT_EQ(centre[0], centre[1]);
    EXPECT_EQ(mixOne({0, 0, 0, 1, 0, 0}), (std::vector<float>{0, 0})) << "LFE reached the speakers";
    // The same signal everywhere keeps its level: full scale stays full scale.
    const std::vector<float> everywhere = mixOne({1, 1, 1, 1, 1, 1});
    EXPECT_NEAR(everywhere[0], 1.0F, 1e-6F);
    EXPECT_NEAR(everywhere[1], 1.0F, 1e-6F);
}

TEST(ChannelMixer, MonoAndStereoConversions)
{
    std::vector<float> out(4);
    const std::vector<float> mono = {0.25F, -0.5F};
    ChannelMixer(1, {}, 2).mix(mono.data(), out.data(), 2);
    EXPECT_EQ(out, (std::vector<float>{0.25F, 0.25F, -0.5F, -0.5F}));

    const std::vector<float> stereo = {1.0F, 0.0F, 0.5F, -0.5F};
    ChannelMixer(2, {}, 1).mix(stereo.data(), out.data(), 2);
    EXPECT_FLOAT_EQ(out[0], 0.5F);
    EXPECT_FLOAT_EQ(out[1], 0.0F);

    // A channel map from the file overrides the customary order.
    const ChannelMixer mapped(3, {SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_LFE}, 2);
    const std::vector<float> frame = {0.3F, 0.7F, 1.0F};
    mapped.mix(frame.data(), out.data(), 1);
    EXPECT_FLOAT_EQ(out[0], 0.7F);
    EXPECT_FLOAT_EQ(out[1], 0.3F);
}

class FrameTimeTest : public ::testing::TestWithParam<int> {};

TEST_P(FrameTimeTest, MillisecondsSurviveTheTripThroughFrames)
{
    const int rate = GetParam();
    for (const int64_t ms : {0LL, 1LL, 7LL, 999LL, 1000LL, 123457LL, 86'400'000LL * 20})
        EXPECT_EQ(framesToMs(msToFrames(ms, rate), rate), ms) << ms << " ms at " << rate;
    EXPECT_EQ(framesToMs(rate - 1, rate), 999);
}

INSTANTIATE_TEST_SUITE_P(Rates, FrameTimeTest, ::testing::Values(8000, 11025, 22050, 44100, 48000, 96000, 192000));

TEST(DacTimeline, BuffersSaidToSoundAtOnceQueueUpBehindEachOtherOnlyWhileTheDeviceFillsUp)
{
    constexpr int64_t Ms = 1'000'000;
    constexpr int64_t Buffer = 64 * Ms;
    constexpr int64_t Queue = 200 * Ms + Buffer;
    DacTimeline timeline;
    // Filling its queue at the start, the device says "now" for every buffer:
    // they sound one after the other, never beyond the whole queue.
    const int64_t start = 1'000 * Ms;
    std::vector<int64_t> due;
    for (int i = 0; i < 6; ++i)
        due.push_back(timeline.bufferDue(start + i * Ms, start + i * Ms, Buffer, Queue));
    EXPECT_EQ(due, (std::vector<int64_t>{start, start + Buffer, start + 2 * Buffer, start + 3 * Buffer,
                                         start + 4 * Buffer, start + 5 * Ms + Queue}));

    // Playing on, the device's clock runs 1 % fast against ours, with jitter:
    // its own word holds over hours, with no running sum drifting away from it.
    int64_t now = start + 10 * Buffer;
    for (int i = 0; i < 100'000; ++i) {
        now += Buffer * 99 / 100;
        const int64_t said = now + 150 * Ms + (i % 3 - 1) * 10 * Ms;
        ASSERT_EQ(timeline.bufferDue(now, said, Buffer, Queue), said) << i;
    }
    // An underflow leaves a gap: the later time the device says is believed.
    EXPECT_EQ(timeline.bufferDue(now + Buffer, now + Buffer + 300 * Ms, Buffer, Queue), now + Buffer + 300 * Ms);

    // A new stream starts on its own word, not behind the last one's queue.
    timeline.restart();
    EXPECT_EQ(timeline.bufferDue(now, now, Buffer, Queue), now);
}

namespace {

// Plays the audio callback against a reader: pulls buffers from its feed and
// keeps the frames that carried audio, with the snapshot published for each.
struct Pulled {
    HeardSnapshot snapshot;
    std::vector<float> samples; // only the frames of audio
};

bool pullOnce(FileReader& reader, size_t frames, std::vector<Pulled>& into)
{
    std::vector<float> out(frames * static_cast<size_t>(reader.format().channels));
    const bool more = reader.feed().pull(out.data(), frames, steadyNowNs(), steadyNowNs());
    Pulled pulled{reader.feed().snapshot(), {}};
    out.resize(static_cast<size_t>(pulled.snapshot.framesInBuffer * reader.format().channels));
    pulled.samples = std::move(out);
    into.push_back(std::move(pulled));
    return more;
}

int64_t frameAt(const std::vector<float>& samples, size_t frame)
{
    return frameOf(static_cast<int16_t>(std::lround(samples[frame * 2] * 32768.0F)),
                   static_cast<int16_t>(std::lround(samples[frame * 2 + 1] * 32768.0F)));
}

// Writes `bytes` at `offset` of `file`, leaving the rest as it is.
void writeAt(const std::filesystem::path& file, uint64_t offset, const std::vector<uint8_t>& bytes)
{
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void appendBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    writeAt(file, std::filesystem::file_size(file), bytes);
}

std::vector<uint8_t> le32Bytes(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

// The header of a 16-bit stereo 48 kHz RF64 log being recorded: every size stale at 0.
std::vector<uint8_t> recordingRf64Header()
{
    std::vector<uint8_t> pcm = pcmWavImage(48000, 2, 16, {});
    std::vector<uint8_t> header{'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E',
                                'd', 's', '6', '4', 28, 0, 0, 0};
    header.resize(header.size() + 28, 0);
    header.insert(header.end(), pcm.begin() + 12, pcm.end());
    const size_t dataSizeField = header.size() - 4;
    std::fill(header.begin() + static_cast<ptrdiff_t>(dataSizeField), header.end(), 0xFF);
    return header;
}

} // namespace

TEST(FileReader, EveryBufferHoldsTheFramesItsSnapshotClaimsAcrossSeeks)
{
    TempDir dir;
    constexpr int64_t Frames = 48000 * 20;
    writePositionWav(dir / "log.wav", 48000, Frames);
    SoundFile file(dir / "log.wav");
    FileReader reader(file, {2, 48000}, 0, 1);
    ASSERT_TRUE(reader.waitUntilPrimed(1, std::chrono::seconds(2)));
    reader.handConsumerToCallback();

    std::mt19937 random(7);
    std::vector<Pulled> pulled;
    uint64_t generation = 1;
    for (int buffer = 0; buffer < 3000; ++buffer) {
        if (buffer % 40 == 39)
            reader.seek(static_cast<int64_t>(random() % Frames), ++generation);
        pullOnce(reader, 1024, pulled);
        if (buffer % 8 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    reader.takeConsumerBack();

    size_t checked = 0;
    uint64_t lastGeneration = 0;
    for (const Pulled& p : pulled) {
        EXPECT_GE(p.snapshot.seekGeneration, lastGeneration) << "generations went backwards";
        lastGeneration = p.snapshot.seekGeneration;
        for (size_t i = 0; i < static_cast<size_t>(p.snapshot.framesInBuffer); ++i) {
            const int64_t expected = p.snapshot.segmentStartFrame + p.snapshot.framesBefore + static_cast<int64_t>(i);
            if (frameAt(p.samples, i) != expected) {
                ADD_FAILURE() << "buffer of seek " << p.snapshot.seekGeneration << " holds frame "
                              << frameAt(p.samples, i) << " where " << expected << " belongs";
                return;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 1'000'000U);
    EXPECT_GT(lastGeneration, 50U);
}

TEST(FileReader, ConvertsTheRateWithoutChangingTheSpeed)
{
    TempDir dir;
    writeToneWav(dir / "tone.wav", 48000, 1, 1.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SoundFile file(dir / "tone.wav");
    FileReader reader(file, {1, 44100}, 0, 1);
    reader.feed().setDrainFrames(0);
    ASSERT_TRUE(reader.waitUntilPrimed(1, std::chrono::seconds(2)));
    reader.handConsumerToCallback();

    std::vector<Pulled> pulled;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pullOnce(reader, 441, pulled) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    reader.takeConsumerBack();
    EXPECT_TRUE(reader.reachedDeclaredEnd());

    std::vector<float> audio;
    for (const Pulled& p : pulled)
        audio.insert(audio.end(), p.samples.begin(), p.samples.end());
    // One second at the device's rate, holding the same 1 kHz tone.
    EXPECT_NEAR(static_cast<double>(audio.size()), 44100.0, 64.0);
    int crossings = 0;
    for (size_t i = 1; i < audio.size(); ++i)
        crossings += (audio[i - 1] < 0.0F) != (audio[i] < 0.0F) ? 1 : 0;
    EXPECT_NEAR(crossings, 2000, 6);
    const float peak = std::accumulate(audio.begin(), audio.end(), 0.0F,
                                       [](float a, float b) { return std::max(a, std::fabs(b)); });
    EXPECT_NEAR(peak, 0.5F, 0.03F);
}

// The logger moves on to a new log and stops before the reader has finished
// the old one: by the time the reader asks, no log is being recorded, yet the
// new log was, and is heard; after it the chain ends. So also when the reader
// never saw the new log named.
TEST(LiveFollow, GoesIntoTheLogTheLoggerMovedOnToEvenWhenItHasStoppedSince)
{
    TempDir dir;
    const auto first = dir / "a.wav";
    const auto second = dir / "b.wav";
    writePositionWav(first, 8000, 800, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    writePositionWav(second, 8000, 400, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    int asked = 0;
    SoundFile file(first, SoundFile::Growth::Growing);
    LiveFollow follow(file, first, [&]() -> std::optional<std::filesystem::path> {
        return ++asked == 1 ? std::optional(second) : std::nullopt;
    });

    EXPECT_EQ(follow.next(0, 1000).frames, 800);
    LiveFollow::Step step = follow.next(800, 1000);
    EXPECT_EQ(step.kind, LiveFollow::Step::Kind::Rotated);
    EXPECT_EQ(follow.readerFile().frames(), 400);
    step = follow.next(400, 1000);
    EXPECT_EQ(step.kind, LiveFollow::Step::Kind::End);

    // Moved on and stopped between two looks: the new log was never named,
    // but the folder holds it.
    asked = 0;
    SoundFile again(first, SoundFile::Growth::Growing);
    LiveFollow between(again, first, [&]() -> std::optional<std::filesystem::path> {
        return ++asked == 1 ? std::optional(first) : std::nullopt;
    });
    EXPECT_EQ(between.next(0, 1000).frames, 800);
    do
        step = between.next(800, 1000);
    while (step.kind == LiveFollow::Step::Kind::Wait && asked < 5);
    EXPECT_EQ(step.kind, LiveFollow::Step::Kind::Rotated);
    EXPECT_EQ(between.readerFile().frames(), 400);
    EXPECT_EQ(between.next(400, 1000).kind, LiveFollow::Step::Kind::End);
}

// The share froze while the reader asked for the live log, the console closed,
// then the share answered and the reader rotated into the next log: the seam
// it marks must reach nothing of the engine that is gone (ASan tells).
TEST(LiveFollow, AReleasedReaderThatRotatesAfterTheEngineHasGoneTouchesNothingOfIt)
{
    TempDir dir;
    const auto first = dir / "a.wav";
    const auto second = dir / "b.wav";
    writePositionWav(first, 8000, 800, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    writePositionWav(second, 8000, 400, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::promise<void> engineGone;
    std::promise<void> asking;
    // Destroyed with the source, so with the released reader's follower.
    auto sourceAlive = std::make_shared<int>(0);
    const std::weak_ptr<int> sourceWatch = sourceAlive;
    {
        PlaybackEngine engine([] {});
        engine.open(first, [&, gone = engineGone.get_future().share(), sourceAlive,
                            asked = std::make_shared<int>(0)]() -> std::optional<std::filesystem::path> {
            if (++*asked == 1) {
                asking.set_value();
                gone.wait();
            }
            return second;
        });
        asking.get_future().wait();
    }
    sourceAlive.reset();
    engineGone.set_value();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!sourceWatch.expired() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(sourceWatch.expired()) << "the released reader never ended";
}

// 96 kHz float stereo passes 2 GiB after 46 minutes: a RIFF log is followed up
// to the 4 GiB its sizes describe, an RF64 log beyond. The files are sparse.
TEST(GrowingWaveLog, IsFollowedPastTwoGibibytesAsRiffAndPastFourAsRf64)
{
    for (const bool rf64 : {false, true}) {
        SCOPED_TRACE(rf64 ? "RF64" : "RIFF");
        TempDir dir;
        const auto log = dir / "live.wav";
        const std::vector<uint8_t> header = rf64 ? recordingRf64Header() : pcmWavImage(48000, 2, 16, {});
        writeBytes(log, header);
        const uint64_t length = rf64 ? 5'000'000'000ULL : 3'000'000'000ULL;
        std::filesystem::resize_file(log, length);
        SoundFile file(log, SoundFile::Growth::Growing);
        ASSERT_NE(file.growing(), nullptr);
        EXPECT_EQ(file.frames(), static_cast<int64_t>((length - header.size()) / 4));

        // The logger records on; its newest frame is heard.
        const auto frames = static_cast<int64_t>((length - header.size()) / 4) + 1000;
        writeAt(log, header.size() + static_cast<uint64_t>(frames - 1) * 4, {0x00, 0x40, 0x00, 0xC0});
        EXPECT_TRUE(file.growing()->refresh());
        EXPECT_EQ(file.frames(), frames);
        ASSERT_TRUE(file.seek(frames - 1));
        float last[2] = {};
        ASSERT_EQ(file.read(last, 1), 1);
        EXPECT_FLOAT_EQ(last[0], 0.5F);
        EXPECT_FLOAT_EQ(last[1], -0.5F);
    }
}

// A logger that appends a LIST chunk after the audio and writes the true sizes
// only after that: the chunk is never taken for samples, before or after.
TEST(GrowingWaveLog, AChunkAppendedAfterTheAudioIsNoSamples)
{
    TempDir dir;
    const auto log = dir / "live.wav";
    writeBytes(log, pcmWavImage(8000, 1, 16, std::vector<uint8_t>(800, 0)));
    writeAt(log, 4, le32Bytes(36));
    writeAt(log, 40, le32Bytes(0));
    SoundFile file(log, SoundFile::Growth::Growing);
    LogGrowth& growth = *file.growing();
    EXPECT_EQ(growth.frames(), 400);

    appendBytes(log, std::vector<uint8_t>(200, 0));
    EXPECT_TRUE(growth.refresh());
    EXPECT_EQ(growth.frames(), 500);
    std::vector<uint8_t> list{'L', 'I', 'S', 'T', 26, 0, 0, 0, 'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 14, 0, 0, 0};
    const std::string software = "tarnveil-1.0.0";
    list.insert(list.end(), software.begin(), software.end());
    appendBytes(log, list);
    growth.refresh();
    EXPECT_EQ(growth.frames(), 500) << "the LIST chunk was taken for samples";

    writeAt(log, 4, le32Bytes(static_cast<uint32_t>(std::filesystem::file_size(log) - 8)));
    writeAt(log, 40, le32Bytes(1000));
    EXPECT_TRUE(growth.settleIfFinished());
    EXPECT_EQ(growth.frames(), 500);
}

// Opened by name as the live log, a WAV log is read past the sizes its stale
// header states, as when it is opened on a lane and handed over.
TEST(GrowingWaveLog, OpenedByNameAsTheLiveLogIsReadPastItsStaleHeader)
{
    TempDir dir;
    const auto log = dir / "live.wav";
    writePositionWav(log, 8000, 800, 2);
    writeAt(log, 40, le32Bytes(400 * 4));
    PlaybackEngine engine([] {});
    engine.open(log, [log] { return std::optional(log); });
    EXPECT_TRUE(engine.following());
    EXPECT_EQ(engine.lengthMs(), 100);
}

namespace {

// A tone over noise: a coder that drops or repeats a frame cannot hide it.
std::vector<float> programme(int64_t frames, int rate)
{
    std::vector<float> samples(static_cast<size_t>(frames * 2));
    std::mt19937 noise(7);
    std::uniform_real_distribution<float> hiss(-0.02F, 0.02F);
    for (int64_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        samples[static_cast<size_t>(2 * f)] = static_cast<float>(0.3 * std::sin(2 * M_PI * 440 * t)) + hiss(noise);
        samples[static_cast<size_t>(2 * f + 1)] = static_cast<float>(0.2 * std::sin(2 * M_PI * 330 * t)) + hiss(noise);
    }
    return samples;
}

struct CompressedLog {
    const char* name;
    int format;
    int rate;
    // How far a sample may stray from the finished log's: a lossy decoder that
    // starts on a tag frame rounds the last bit differently than one that
    // starts on the frame reserved for it.
    float rounding;
};

void PrintTo(const CompressedLog& log, std::ostream* out)
{
    *out << log.name;
}

class GrowingCompressedLog : public ::testing::TestWithParam<CompressedLog> {};

} // namespace

// A compressed log read while the logger appends it in pieces that end
// anywhere inside a frame: the reader stops at the last whole frame each time
// and goes on from there, so that it reads exactly what the whole recording
// decodes to, and a seek lands on the same samples.
TEST_P(GrowingCompressedLog, IsReadSampleForSampleWhileItGrowsInPiecesThatSplitFrames)
{
    const CompressedLog param = GetParam();
    TempDir dir;
    const auto recorded = dir / "recorded";
    std::vector<uint8_t> whileRecorded;
    {
        SF_INFO info{};
        info.samplerate = param.rate;
        info.channels = 2;
        info.format = param.format;
        SNDFILE* out = sf_open(recorded.c_str(), SFM_WRITE, &info);
        ASSERT_NE(out, nullptr) << sf_strerror(nullptr);
        const std::vector<float> samples = programme(3 * param.rate, param.rate);
        sf_writef_float(out, samples.data(), 3 * param.rate);
        sf_write_sync(out);
        whileRecorded = readBytes(recorded);
        sf_close(out);
    }
    const std::vector<float> whole = decodeLog(recorded).samples;

    const auto live = dir / "live";
    size_t copied = 4096;
    writeBytes(live, std::vector<uint8_t>(whileRecorded.begin(), whileRecorded.begin() + static_cast<ptrdiff_t>(copied)));
    SoundFile file(live, SoundFile::Growth::Growing);
    ASSERT_NE(file.growing(), nullptr);
    std::vector<float> followed;
    std::vector<float> block(2 * 500);
    for (;;) {
        while (const int64_t got = file.read(block.data(), 500))
            followed.insert(followed.end(), block.begin(), block.begin() + got * 2);
        if (copied == whileRecorded.size())
            break;
        const size_t piece = std::min<size_t>(1013, whileRecorded.size() - copied);
        appendBytes(live, std::vector<uint8_t>(whileRecorded.begin() + static_cast<ptrdiff_t>(copied),
                                               whileRecorded.begin() + static_cast<ptrdiff_t>(copied + piece)));
        copied += piece;
        file.growing()->refresh();
    }
    ASSERT_GT(followed.size(), static_cast<size_t>(2 * 5 * param.rate / 2)) << "stopped early";
    ASSERT_LE(followed.size(), whole.size());
    const auto differ = std::mismatch(followed.begin(), followed.end(), whole.begin(), [&](float a, float b) {
        return std::fabs(a - b) <= param.rounding;
    });
    EXPECT_TRUE(differ.first == followed.end()) << "first difference at frame " << (differ.first - followed.begin()) / 2;

    // Opened at its end, a FLAC log's length is known before it is decoded. (An
    // MPEG log's is libsndfile's guess from its first frame's bit rate.)
    if ((param.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) {
        const SoundFile again(live, SoundFile::Growth::Growing);
        EXPECT_NEAR(static_cast<double>(again.frames()), static_cast<double>(followed.size() / 2), 4096.0);
    }

    const int64_t middle = param.rate + 123;
    ASSERT_TRUE(file.seek(middle));
    ASSERT_EQ(file.read(block.data(), 500), 500);
    // A lossy decoder sent back warms up on the frames before it, and may round as a fresh one does.
    double furthest = 0.0;
    for (size_t i = 0; i < block.size(); ++i)
        furthest = std::max(furthest, static_cast<double>(std::fabs(block[i] - whole[2 * middle + i])));
    EXPECT_LE(furthest, std::max(param.rounding, 1e-6F)) << "the seek landed elsewhere";

    // The finished log, opened as one that may still grow, starts where it did.
    SoundFile finished(recorded, SoundFile::Growth::MayGrow);
    ASSERT_EQ(finished.read(block.data(), 500), 500);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), whole.begin(), [&](float a, float b) {
        return std::fabs(a - b) <= param.rounding;
    })) << "the finished log starts elsewhere";
}

INSTANTIATE_TEST_SUITE_P(Formats, GrowingCompressedLog,
                         ::testing::Values(CompressedLog{"Flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16000, 0.0F},
                                           CompressedLog{"Mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 16000, 1e-6F},
                                           CompressedLog{"Mp3Mpeg1", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100,
                                                         1e-6F}),
                         [](const ::testing::TestParamInfo<CompressedLog>& info) { return std::string(info.param.name); });
