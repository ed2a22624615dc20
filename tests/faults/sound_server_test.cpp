// The sound server killed while a log plays. The console must show a failure,
// keep running, and play again once the server is back. The server is always
// restarted the way the test script starts it, whatever the outcome, so the
// tests after this one find it as they expect.

#include "console_fixture.h"
#include "fault_support.h"

#include "components/wave_player.h"
#include "console/console_colours.h"
#include "support/audio_env.h"

#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <fstream>

namespace tarnveil::test {
namespace {

const char* const StartServer = "pulseaudio -n --daemonize=yes --exit-idle-time=-1 "
                                "-L module-null-sink -L module-native-protocol-unix >/dev/null 2>&1";

bool serverAnswers()
{
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

bool waitForServer(bool up)
{
    for (int i = 0; i < 100; ++i) {
        if (serverAnswers() == up)
            return true;
        QTest::qWait(50);
    }
    return false;
}

class SoundServerFaultTest : public ConsoleTest {
protected:
    SoundServerFaultTest()
    {
        // A client would otherwise start a server of its own (with the
        // desktop's defaults) the moment ours is gone.
        std::ofstream(clientConfig) << "autospawn = no\n";
        setenv("PULSE_CLIENTCONFIG", clientConfig.c_str(), 1);
    }
    ~SoundServerFaultTest() override
    {
        restartServer();
        unsetenv("PULSE_CLIENTCONFIG");
    }

    static void killServer()
    {
        [[maybe_unused]] const int status = std::system("pulseaudio --kill >/dev/null 2>&1");
    }
    static bool restartServer()
    {
        if (serverAnswers())
            return true;
        [[maybe_unused]] const int status = std::system(StartServer);
        return waitForServer(true);
    }

    TempDir configDir;
    std::filesystem::path clientConfig = configDir / "client.conf";
};

TEST_F(SoundServerFaultTest, ServerKilledWhilePlayingIsReportedAndPlaybackWorksOnceItIsBack)
{
    if (!useSoundServer())
        GTEST_SKIP() << "no sound server";
    writeLog("a.wav", 30000, 8000);
    mnuMenu& w = openWindow();
    selectLog("a.wav");
    ASSERT_TRUE(playSelected());
    ASSERT_TRUE(waitFor([&] { return w.WavePlayer->Position() > 200; }));

    killServer();
    ASSERT_TRUE(waitForServer(false)) << "the sound server did not end";
    // The device is gone: the console must not go on showing a playback that
    // nobody hears. It returns to idle, and the next Play says what is wrong.
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }, 5000)) << "the console still shows playback";
    EXPECT_EQ(buttonColour(w.cmdPlay), colours::PlayIdle);
    EXPECT_FALSE(w.WavePlayer->isPlaying());
    const int32_t endedAt = w.WavePlayer->Position();
    EXPECT_GT(endedAt, 0);
    EXPECT_LT(endedAt, 5000);
    QTest::mouseClick(w.cmdPlay, Qt::LeftButton);
    EXPECT_EQ(errorMessage(), "Wave file does not exist or has been damaged");
    ASSERT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }, 5000));
    EXPECT_EQ(buttonColour(w.cmdPlay), colours::PlayIdle);
    // Still running: the timer ticks and the window answers.
    ASSERT_TRUE(waitForTicks(4));
    EXPECT_TRUE(w.isVisible());

    ASSERT_TRUE(restartServer()) << "the sound server did not start again";
    closeErrorWindow();
    ASSERT_TRUE(playSelected());
    EXPECT_TRUE(errorMessage().isNull()) << errorMessage().toStdString();
    // Sound flows again: the position moves on.
    EXPECT_TRUE(waitFor([&] { return w.WavePlayer->Position() > 500; }, 5000));
    QTest::mouseClick(w.cmdStop, Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return module.PlayerOpen == 0; }));
}

} // namespace
} // namespace tarnveil::test
