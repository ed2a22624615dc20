#include "support/slow_share.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

namespace tarnveil::test {
namespace {

using namespace std::chrono_literals;

bool mounted(const std::filesystem::path& folder)
{
    std::ifstream mounts("/proc/self/mounts");
    for (std::string line; std::getline(mounts, line);) {
        if (line.find(" " + folder.string() + " ") != std::string::npos)
            return true;
    }
    return false;
}

std::string contents(const std::filesystem::path& file)
{
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(SlowShareTest, ServesReadOnlyCountsAndDelaysEveryCallStallsWhileFrozenAndLeavesNothing)
{
    if (const std::string why = SlowShare::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    TempDir source;
    std::ofstream(source / "log.wav") << "recorded";
    std::filesystem::path mountPoint;
    {
        SlowShare share(source.path(), 20ms, SlowShare::Access::ReadOnly);
        mountPoint = share.mountPoint();

        const std::uint64_t before = share.calls();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(contents(share / "log.wav"), "recorded");
        const auto took = std::chrono::steady_clock::now() - start;
        const std::uint64_t calls = share.calls() - before;
        EXPECT_GE(calls, 3u) << "a look-up, an open and a read at least";
        RecordProperty("ms_per_call", std::to_string(std::chrono::duration<double, std::milli>(took).count() / calls));

        EXPECT_FALSE(std::ofstream(share / "new.wav")) << "a read-only share took a new file";
        EXPECT_FALSE(std::filesystem::exists(source / "new.wav"));

        share.freeze();
        const std::uint64_t frozenAt = share.calls();
        std::atomic<bool> answered = false;
        std::thread look([&] {
            [[maybe_unused]] const bool seen = std::filesystem::exists(share / "log.wav");
            answered = true;
        });
        std::this_thread::sleep_for(300ms);
        EXPECT_FALSE(answered) << "a call was answered by a frozen share";
        EXPECT_EQ(share.calls(), frozenAt);
        share.thaw();
        look.join();
        EXPECT_GT(share.calls(), frozenAt);
    }
    EXPECT_FALSE(mounted(mountPoint));
    EXPECT_FALSE(std::filesystem::exists(mountPoint));
}

TEST(SlowShareTest, ServesReadWriteOntoTheFolder)
{
    if (const std::string why = SlowShare::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    TempDir source;
    SlowShare share(source.path(), 1ms, SlowShare::Access::ReadWrite);
    std::filesystem::create_directories(share / "2026/06/15");
    std::ofstream(share / "2026/06/15/archive.wav") << "written";
    std::filesystem::rename(share / "2026/06/15/archive.wav", share / "2026/06/15/12.wav");
    EXPECT_EQ(contents(source / "2026/06/15/12.wav"), "written");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(share / "2026/06/15"), {}), 1);
}

} // namespace
} // namespace tarnveil::test
