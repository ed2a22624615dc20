#include "share/drive_lane.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <string>

namespace tarnveil {
namespace {

using namespace std::chrono_literals;

// Stands in for a share that answers only when the test lets it.
struct HeldCall {
    std::promise<void> release;
    std::shared_future<void> gate{release.get_future().share()};
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);

    auto work(int value)
    {
        return [gate = gate, finished = finished, value] {
            gate.wait();
            finished->store(true);
            return value;
        };
    }
};

TEST(DriveLaneTest, DeliversOnTheGuiThreadAndDropsWhatIsLateOrSuperseded)
{
    DriveLane lane(300ms);
    std::optional<DriveOutcome<int>> got;
    bool onGuiThread = false;
    auto record = [&](DriveOutcome<int> outcome) {
        onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        got = std::move(outcome);
    };

    // An answer in time arrives on the GUI thread.
    lane.start("L:\\logger\\logs", [] { return 7; }, record);
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 2000));
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(std::get<0>(*got), 7);
    EXPECT_FALSE(lane.busy());

    // A stalled call is reported at its deadline; its late answer is thrown away.
    got.reset();
    HeldCall stalled;
    lane.start("L:\\logger\\logs", stalled.work(1), record);
    EXPECT_TRUE(lane.busy());
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 2000));
    ASSERT_EQ(got->index(), 1U);
    EXPECT_EQ(std::get<1>(*got).message(), "57 Device I/O error: L:\\logger\\logs does not answer");
    got.reset();
    stalled.release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled.finished->load(); }, 2000));
    QTest::qWait(50);
    EXPECT_FALSE(got.has_value());

    // A newer request makes the older one's answer stale, whenever it comes.
    HeldCall older;
    int deliveries = 0;
    lane.start("L:", older.work(1), [&](DriveOutcome<int>) { ++deliveries; });
    lane.start("L:", [] { return 2; }, record);
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 2000));
    EXPECT_EQ(std::get<0>(*got), 2);
    older.release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return older.finished->load(); }, 2000));
    QTest::qWait(400);
    EXPECT_EQ(deliveries, 0);

    // Failures of the work come back as they are.
    got.reset();
    lane.start("L:", []() -> int { throw Failure(FailureCode::FileNotFound, "x.wav"); }, record);
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 2000));
    EXPECT_EQ(std::get<1>(*got).number(), 53);
}

TEST(DriveLaneTest, ALaneThatGoesWhileItsCallHangsLeavesNothingBehind)
{
    HeldCall stalled;
    bool delivered = false;
    {
        DriveLane lane(100ms);
        lane.start("L:", stalled.work(1), [&](DriveOutcome<int>) { delivered = true; });
    }
    QTest::qWait(200);
    stalled.release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled.finished->load(); }, 2000));
    QTest::qWait(50);
    EXPECT_FALSE(delivered);
}

} // namespace
} // namespace tarnveil
