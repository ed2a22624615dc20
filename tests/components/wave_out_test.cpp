#include "components/wave_out.h"
#include "platform/failure.h"
#include "support/audio_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace tarnveil;

TEST(WaveOut, ListsDevicesByNumberWithTheDefaultFirst)
{
    WaveOut devices;
    const int32_t count = devices.DeviceCount();
    ASSERT_GE(count, 1) << "no output device at all";
    for (int32_t i = 0; i < count; ++i)
        EXPECT_FALSE(devices.DeviceName(i).isEmpty()) << "device " << i;
    if (test::captureDeviceNumber() >= 0) {
        EXPECT_GT(test::captureDeviceNumber(), 0) << "the capture device took the default's place";
    }
}

TEST(WaveOut, NumbersOutsideTheListFail)
{
    WaveOut devices;
    for (const int32_t device : {-1, devices.DeviceCount(), 1000}) {
        try {
            (void)devices.DeviceName(device);
            FAIL() << "device " << device << " has a name";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), FailureCode::InvalidIndex);
        }
    }
}

TEST(WaveOut, ASoundSystemThatWillNotStartIsAFailureAndTheNextLookWorks)
{
    // Held as the player holds it from its first Play on.
    const PortAudioSession inUse;
    {
        const test::BrokenAudioConfiguration broken;
        EXPECT_THROW(WaveOut(), Failure);
    }
    WaveOut devices;
    ASSERT_GE(devices.DeviceCount(), 1);
    for (int32_t i = 0; i < devices.DeviceCount(); ++i)
        EXPECT_FALSE(devices.DeviceName(i).isEmpty()) << "device " << i;
}

TEST(WaveOut, PortAudioStartedBesideTheWindowServesTheFirstLookOrLeavesItsFailureToIt)
{
    {
        const test::BrokenAudioConfiguration broken;
        const PortAudioWarmUp warmUp;
        try {
            const PortAudioSession session;
            FAIL() << "a sound system that would not start gave a session";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), FailureCode::DeviceUnavailable);
        }
    }
    // A program ended by exit() while its warm-up stands (as Qt ends it when
    // the display goes away) ends with its own status. The child is a fresh
    // run: exit() in a plain fork would wait for threads it did not inherit.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            new PortAudioWarmUp;
            std::exit(3);
        },
        testing::ExitedWithCode(3), "");

    const PortAudioWarmUp warmUp;
    const PortAudioSession session;
    EXPECT_FALSE(session.outputDevices().empty());
}

// PortAudio starts beside the window: what the program writes meanwhile still
// reaches stderr, and ALSA's and JACK's reports of cards and servers that are
// not there do not.
TEST(WaveOut, StartingPortAudioLeavesStderrToTheProgram)
{
    testing::internal::CaptureStderr();
    std::atomic<bool> started = false;
    int written = 0;
    std::thread program([&] {
        for (; !started; ++written) {
            std::fprintf(stderr, "program line\n");
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    {
        const PortAudioWarmUp warmUp;
        const PortAudioSession session;
        started = true;
    }
    program.join();
    const std::string heard = testing::internal::GetCapturedStderr();
    size_t lines = 0;
    for (size_t at = heard.find("program line"); at != std::string::npos; at = heard.find("program line", at + 1))
        ++lines;
    EXPECT_EQ(lines, static_cast<size_t>(written));
    EXPECT_EQ(heard.find("ALSA lib"), std::string::npos) << heard.substr(0, 400);
    EXPECT_EQ(heard.find("jack"), std::string::npos) << heard.substr(0, 400);
}
