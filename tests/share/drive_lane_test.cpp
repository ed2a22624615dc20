#include "share/drive_lane.h"
#include "share/posted_call.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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

TEST(DriveLaneTest, AStaleAnswerOrDeadlineLandingWhileTheNewerCallIsPendingIsDropped)
{
    DriveLane lane(300ms);
    HeldCall older;
    HeldCall newer;
    std::vector<std::string> got;
    auto record = [&](DriveOutcome<int> outcome) {
        got.push_back(outcome.index() == 0 ? std::to_string(std::get<0>(outcome)) : std::get<1>(outcome).message());
    };
    lane.start("L:\\old", older.work(1), record);
    QTest::qWait(150);
    lane.start("L:\\new", newer.work(2), record);
    // The older call's deadline passes, then its answer comes, both while the newer one is held.
    QTest::qWait(200);
    older.release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return older.finished->load(); }, 2000));
    QTest::qWait(50);
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(lane.busy());
    newer.release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !got.empty(); }, 2000));
    EXPECT_EQ(got, std::vector<std::string>{"2"});
}

TEST(DriveLaneTest, TheDeadlineIsPerCallAndADroppedJobMakesNoFurtherCalls)
{
    DriveLane lane(300ms);
    std::optional<DriveOutcome<int>> got;
    auto record = [&](DriveOutcome<int> outcome) { got = std::move(outcome); };

    // A share that answers each call within the deadline, the whole job taking longer.
    lane.start("L:", [] {
        for (int call = 0; call < 8; ++call) {
            driveCall();
            std::this_thread::sleep_for(100ms);
        }
        return 8;
    }, record);
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 5000));
    ASSERT_EQ(got->index(), 0U) << std::get<1>(*got).message();

    // One call that hangs is reported once; when it returns, the job stops at its next call.
    got.reset();
    HeldCall hung;
    auto callsAfter = std::make_shared<std::atomic<int>>(0);
    auto ended = std::make_shared<std::atomic<bool>>(false);
    lane.start("L:", [gate = hung.gate, callsAfter, ended] {
        struct Ended {
            std::atomic<bool>& flag;
            ~Ended() { flag = true; }
        } end{*ended};
        driveCall();
        gate.wait();
        for (;;) {
            driveCall();
            ++*callsAfter;
        }
        return 0;
    }, record);
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 2000));
    EXPECT_EQ(std::get<1>(*got).number(), 57);
    hung.release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended->load(); }, 2000));
    EXPECT_EQ(callsAfter->load(), 0);

    // So does a job that a newer call supersedes, and one that is cancelled.
    for (const bool superseded : {true, false}) {
        auto calls = std::make_shared<std::atomic<int>>(0);
        auto stopped = std::make_shared<std::atomic<bool>>(false);
        lane.start("L:", [calls, stopped] {
            struct Ended {
                std::atomic<bool>& flag;
                ~Ended() { flag = true; }
            } end{*stopped};
            for (;;) {
                driveCall();
                ++*calls;
                std::this_thread::sleep_for(1ms);
            }
            return 0;
        }, record);
        ASSERT_TRUE(QTest::qWaitFor([&] { return calls->load() > 0; }, 2000));
        if (superseded)
            lane.start("L:", [] { return 1; }, record);
        else
            lane.cancel();
        EXPECT_TRUE(QTest::qWaitFor([&] { return stopped->load(); }, 2000)) << superseded;
    }
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

// What a worker thread posts runs on the receiver's thread with what it
// carries; a post whose receiver has gone is destroyed unrun, on no worker's
// stack. Under the thread checker this also shows that the carried data
// crosses threads through an order the checker sees.
TEST(PostedCallTest, RunsOnTheReceiversThreadOrIsDestroyedUnrunWhenTheReceiverHasGone)
{
    auto receiver = std::make_unique<QObject>();
    std::vector<std::string> ran;
    bool onGuiThread = false;
    // The worker lives on until the call has run, so that only the hand-off orders the two.
    std::promise<void> runDone;
    std::thread worker([&ran, &onGuiThread, target = receiver.get(), done = runDone.get_future()] {
        std::string carried = "from a worker";
        postCall(target, [&ran, &onGuiThread, carried] {
            onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            ran.push_back(carried);
        });
        done.wait();
    });
    const bool arrived = QTest::qWaitFor([&] { return !ran.empty(); }, 2000);
    runDone.set_value();
    worker.join();
    ASSERT_TRUE(arrived);
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(ran, std::vector<std::string>{"from a worker"});

    auto carried = std::make_shared<int>(7);
    std::thread([&ran, carried, target = receiver.get()] {
        postCall(target, [&ran, carried] { ran.push_back("late"); });
    }).join();
    EXPECT_EQ(carried.use_count(), 2);
    receiver.reset();
    EXPECT_EQ(carried.use_count(), 1);
    QTest::qWait(50);
    EXPECT_EQ(ran.size(), 1U);
}

} // namespace
} // namespace tarnveil
