#include "components/track_bar.h"

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <limits>

namespace tarnveil {
namespace {

// 210 px wide: the thumb's centre travels 189 px, so a span of 189000 ms gives
// exactly one second per pixel.
class TrackBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bar.resize(210, 32);
        bar.setMin(0);
        bar.setMax(189000);
        bar.show();
    }

    QPoint grooveAt(int32_t ms) const
    {
        const QRect groove = bar.grooveRect();
        return {groove.left() + ms / 1000, groove.center().y()};
    }

    TrackBar bar;
    QSignalSpy moved{&bar, &TrackBar::ThumbMoved};
};

TEST_F(TrackBarTest, ProgramSetPositionIsKeptAsSetAndRaisesNothing)
{
    bar.setPosition(50000);
    EXPECT_EQ(bar.Position(), 50000);
    EXPECT_EQ(bar.thumbRect().center().x(), grooveAt(50000).x());

    // Outside the span: kept, thumb at the nearer end.
    bar.setPosition(250000);
    EXPECT_EQ(bar.Position(), 250000);
    EXPECT_EQ(bar.thumbRect().center().x(), grooveAt(189000).x());
    bar.setPosition(-5000);
    EXPECT_EQ(bar.Position(), -5000);
    EXPECT_EQ(bar.thumbRect().center().x(), grooveAt(0).x());

    // Moving the span under a standing position neither moves nor reports it.
    bar.setMin(100000);
    bar.setMax(110000);
    EXPECT_EQ(bar.Position(), -5000);
    EXPECT_EQ(moved.count(), 0);
}

// Playback moves the thumb a pixel at a time and repaints only where it was
// and is: the window must still show what a paint of the whole slider shows.
TEST_F(TrackBarTest, ProgramMovesShowWhatAWholePaintShows)
{
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    const auto onScreen = [&] {
        QApplication::processEvents();
        return bar.screen()->grabWindow(bar.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    };
    const auto wholePaint = [&] { return bar.grab().toImage().convertToFormat(QImage::Format_RGB32); };
    for (int32_t ms = 0; ms <= 30000; ms += 350) {
        bar.setPosition(ms);
        ASSERT_EQ(onScreen(), wholePaint()) << ms << " ms";
    }
    // A window opening where playback stands moves the thumb back to its start.
    bar.setMin(30000);
    bar.setMax(40000);
    EXPECT_EQ(onScreen(), wholePaint());
}

TEST_F(TrackBarTest, ClickOnTheGrooveJumpsThereAndReportsOnce)
{
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, grooveAt(120000));
    EXPECT_EQ(bar.Position(), 120000);
    EXPECT_EQ(moved.count(), 1);

    // A click on the bevel beyond the groove's end lands on Max, not beyond it.
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar.width() - 2, 16));
    EXPECT_EQ(bar.Position(), 189000);
    EXPECT_EQ(moved.count(), 2);

    // Other buttons do nothing.
    QTest::mouseClick(&bar, Qt::RightButton, Qt::NoModifier, grooveAt(10000));
    EXPECT_EQ(bar.Position(), 189000);
    EXPECT_EQ(moved.count(), 2);
}

TEST_F(TrackBarTest, DraggingTheThumbFollowsTheMouseWithinTheSpan)
{
    bar.setPosition(40000);
    // Grabbed 3 px right of its centre: the press alone must not move it.
    const QPoint grab = bar.thumbRect().center() + QPoint(3, 0);
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, grab);
    EXPECT_EQ(bar.Position(), 40000);
    EXPECT_EQ(moved.count(), 0);

    QTest::mouseMove(&bar, grab + QPoint(25, 0));
    EXPECT_EQ(bar.Position(), 65000);
    EXPECT_EQ(moved.count(), 1);

    // Far past either end the position stops at the span's ends.
    QTest::mouseMove(&bar, QPoint(-300, 16));
    EXPECT_EQ(bar.Position(), 0);
    QTest::mouseMove(&bar, QPoint(900, 16));
    EXPECT_EQ(bar.Position(), 189000);
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(900, 16));
    EXPECT_EQ(moved.count(), 3);

    // After the release, moving the mouse moves nothing.
    QTest::mouseMove(&bar, grooveAt(1000));
    EXPECT_EQ(bar.Position(), 189000);
}

TEST_F(TrackBarTest, KeysStepWithinTheSpan)
{
    bar.setMin(10000);
    bar.setMax(20000);
    bar.setPosition(15000);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(bar.Position(), 15100);
    QTest::keyClick(&bar, Qt::Key_PageDown);
    EXPECT_EQ(bar.Position(), 14100);
    QTest::keyClick(&bar, Qt::Key_End);
    EXPECT_EQ(bar.Position(), 20000);
    EXPECT_EQ(moved.count(), 3);

    // At the end there is nowhere to go: nothing to report.
    QTest::keyClick(&bar, Qt::Key_Right);
    QTest::keyClick(&bar, Qt::Key_PageUp);
    EXPECT_EQ(bar.Position(), 20000);
    EXPECT_EQ(moved.count(), 3);

    QTest::keyClick(&bar, Qt::Key_Home);
    EXPECT_EQ(bar.Position(), 10000);

    // From a position the program left outside the span, a key lands inside it.
    bar.setPosition(25000);
    QTest::keyClick(&bar, Qt::Key_Left);
    EXPECT_EQ(bar.Position(), 19900);
}

TEST_F(TrackBarTest, EmptyAndReversedSpansNeitherCrashNorEscape)
{
    bar.setMin(30000);
    bar.setMax(30000);
    bar.setPosition(0);
    EXPECT_FALSE(bar.grab().isNull());
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, grooveAt(150000));
    EXPECT_EQ(bar.Position(), 30000);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(bar.Position(), 30000);
    EXPECT_EQ(moved.count(), 1);

    // Max below Min (Total chosen while an old window's Min stands): the thumb
    // travels between the two, the lower at the left.
    bar.setMin(100000);
    bar.setMax(0);
    EXPECT_FALSE(bar.grab().isNull());
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, bar.grooveRect().center());
    EXPECT_GE(bar.Position(), 0);
    EXPECT_LE(bar.Position(), 100000);
    QTest::keyClick(&bar, Qt::Key_End);
    EXPECT_EQ(bar.Position(), 100000);
}

TEST_F(TrackBarTest, ExtremeSpanDoesNotOverflow)
{
    constexpr int32_t low = std::numeric_limits<int32_t>::min();
    constexpr int32_t high = std::numeric_limits<int32_t>::max();
    bar.setMin(low);
    bar.setMax(high);
    bar.setPosition(0);
    EXPECT_NEAR(bar.thumbRect().center().x(), bar.grooveRect().center().x(), 1);
    QTest::keyClick(&bar, Qt::Key_End);
    EXPECT_EQ(bar.Position(), high);
    QTest::keyClick(&bar, Qt::Key_PageUp);
    EXPECT_EQ(bar.Position(), high);
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(0, 16));
    EXPECT_EQ(bar.Position(), low);
}

} // namespace
} // namespace tarnveil
