#include "components/level_connector.h"

#include "components/level_meter.h"
#include "components/wave_player.h"
#include "support/audio_env.h"
#include "support/temp_dir.h"
#include "support/wav_fixtures.h"

#include <QTest>
#include <gtest/gtest.h>

#include <sndfile.h>

namespace tarnveil {
namespace {

constexpr int WaitMs = 10000;

// The sound server's null sink plays in real time, so a tone lasts long enough
// to watch the meter follow it.
class LevelConnectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::soundServerRunning() || test::pulseDeviceNumber() < 0)
            GTEST_SKIP() << "needs the PulseAudio null sink";
        test::writeToneWav(tone, 44100, 2, 20.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        player.setDeviceID(test::pulseDeviceNumber());
        connector.setInput(&player);
        connector.setLevel1(&meter);
    }

    void TearDown() override { player.Stop(); }

    bool meterShowsTheTone() const { return meter.barDb(0) > -10.0 && meter.barDb(1) > -10.0; }

    test::TempDir folder;
    std::filesystem::path tone = folder / "tone.wav";
    WavePlayer player;
    MMLevel meter;
    MMConnector connector;
};

TEST_F(LevelConnectorTest, MeterFollowsPlaybackAndFallsWhenItPausesOrStops)
{
    player.setFileName(tone);
    player.Play();
    // A half-scale tone reads about -6 dBFS on both bars.
    ASSERT_TRUE(QTest::qWaitFor([&] { return meterShowsTheTone(); }, WaitMs));
    EXPECT_LE(meter.barDb(0), -5.0);

    player.Pause();
    EXPECT_TRUE(QTest::qWaitFor([&] { return meter.atRest(); }, WaitMs));
    player.Resume();
    EXPECT_TRUE(QTest::qWaitFor([&] { return meterShowsTheTone(); }, WaitMs));

    player.Stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return meter.atRest(); }, WaitMs));
    // Once the bars have fallen the connector rests until playback runs again.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !connector.isPolling(); }, WaitMs));
    player.Play();
    EXPECT_TRUE(QTest::qWaitFor([&] { return meterShowsTheTone(); }, WaitMs));
}

} // namespace
} // namespace tarnveil
