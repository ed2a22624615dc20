#include "components/level_meter.h"
#include "components/wave_player.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QTest>

#include <cmath>
#include <limits>
#include <vector>

namespace tarnveil {
namespace {

LevelReading stereo(float left, float right)
{
    LevelReading reading;
    reading.channels = 2;
    reading.peak[0] = left;
    reading.peak[1] = right;
    return reading;
}

LevelReading mono(float peak)
{
    LevelReading reading;
    reading.channels = 1;
    reading.peak[0] = peak;
    return reading;
}

TEST(LevelMeter, PeaksReadAsDbfsWithinTheScale)
{
    EXPECT_DOUBLE_EQ(MMLevel::peakToDb(1.0), 0.0);
    EXPECT_NEAR(MMLevel::peakToDb(0.5), -6.02, 0.01);
    EXPECT_NEAR(MMLevel::peakToDb(0.1), -20.0, 1e-9);
    // Clipped samples, silence and junk stay on the scale.
    EXPECT_DOUBLE_EQ(MMLevel::peakToDb(1.7), 0.0);
    EXPECT_DOUBLE_EQ(MMLevel::peakToDb(std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_DOUBLE_EQ(MMLevel::peakToDb(0.0), MMLevel::MinimumDb);
    EXPECT_DOUBLE_EQ(MMLevel::peakToDb(-0.5), MMLevel::MinimumDb);
    EXPECT_DOUBLE_EQ(MMLevel::peakToDb(std::nan("")), MMLevel::MinimumDb);
    // One 16-bit step lies far below the floor.
    EXPECT_DOUBLE_EQ(MMLevel::peakToDb(1.0 / 32768), MMLevel::MinimumDb);
}

TEST(LevelMeter, BarsRiseAtOnceFallSteadilyAndPeakMarksHold)
{
    MMLevel meter;
    EXPECT_TRUE(meter.atRest());
    meter.showLevelsAt(stereo(0.5F, 0.1F), 0);
    EXPECT_NEAR(meter.barDb(0), -6.02, 0.01);
    EXPECT_NEAR(meter.barDb(1), -20.0, 0.01);

    // Quieter readings do not pull the bar down at once, and the mark stays
    // put for the hold time.
    int64_t t = 0;
    for (; t + 50 < MMLevel::PeakHoldMs; t += 50)
        meter.showLevelsAt(stereo(0.01F, 0.01F), t + 50);
    EXPECT_LT(meter.barDb(0), -6.03);
    EXPECT_GT(meter.barDb(0), MMLevel::MinimumDb);
    EXPECT_NEAR(meter.peakHoldDb(0), -6.02, 0.01);

    // Past the hold time the mark falls too, never below its bar.
    meter.showLevelsAt(LevelReading{}, MMLevel::PeakHoldMs + 500);
    EXPECT_LT(meter.peakHoldDb(0), -6.03);
    EXPECT_GE(meter.peakHoldDb(0), meter.barDb(0));

    // A louder reading lifts the bar at once; a mono one drives both bars.
    meter.showLevelsAt(mono(1.0F), MMLevel::PeakHoldMs + 550);
    EXPECT_DOUBLE_EQ(meter.barDb(0), 0.0);
    EXPECT_DOUBLE_EQ(meter.barDb(1), 0.0);

    // Silence brings everything to rest.
    for (t = MMLevel::PeakHoldMs + 600; t <= 20000 && !meter.atRest(); t += 40)
        meter.showLevelsAt(LevelReading{}, t);
    EXPECT_TRUE(meter.atRest());
    EXPECT_DOUBLE_EQ(meter.barDb(1), MMLevel::MinimumDb);
}

// Counts pixels of one bar row that are lit in a given zone colour family.
int litPixels(const QImage& image, int y, int fromX, int toX, bool (*isZone)(QColor))
{
    int count = 0;
    for (int x = fromX; x < toX; ++x) {
        if (isZone(image.pixelColor(x, y)))
            ++count;
    }
    return count;
}

bool litGreen(QColor c) { return c.green() > 200 && c.red() < 60; }
bool litRed(QColor c) { return c.red() > 200 && c.green() < 60; }

TEST(LevelMeter, PaintsLitSegmentsUpToTheLevel)
{
    MMLevel meter;
    meter.resize(304, 22);
    // Left at full scale, right silent.
    meter.showLevelsAt(stereo(1.0F, 0.0F), 0);
    const QImage image = meter.grab().toImage();
    const int topRow = 5;
    const int bottomRow = image.height() - 5;
    const int width = image.width();

    EXPECT_GT(litPixels(image, topRow, 0, width / 3, litGreen), 0);
    EXPECT_GT(litPixels(image, topRow, width * 9 / 10, width, litRed), 0);
    EXPECT_EQ(litPixels(image, bottomRow, 0, width, litGreen), 0);
    EXPECT_EQ(litPixels(image, bottomRow, 0, width, litRed), 0);
}

// The meter repaints only the segments that changed: what the window shows
// after each step must still be what a paint of the whole meter shows.
TEST(LevelMeter, ShowsWhatAWholePaintShowsThroughEveryStep)
{
    MMLevel meter;
    meter.resize(304, 22);
    meter.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&meter));
    const auto onScreen = [&] {
        QApplication::processEvents();
        return meter.screen()->grabWindow(meter.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    };
    const auto wholePaint = [&] { return meter.grab().toImage().convertToFormat(QImage::Format_RGB32); };

    // Rises, a fall under held marks, a mono jump and the fall to rest.
    std::vector<LevelReading> readings{stereo(0.5F, 0.1F), stereo(1.0F, 0.02F), mono(0.3F)};
    for (int i = 0; i < 60; ++i)
        readings.push_back(stereo(0.01F, 0.001F));
    readings.push_back(mono(0.9F));
    for (int i = 0; i < 150; ++i)
        readings.push_back(LevelReading{});
    int64_t t = 0;
    int step = 0;
    for (const LevelReading& reading : readings) {
        meter.showLevelsAt(reading, t += 40);
        const QImage shown = onScreen();
        ASSERT_EQ(shown, wholePaint()) << "step " << step;
        ++step;
    }
    EXPECT_TRUE(meter.atRest());
    // A new width draws the bars afresh.
    meter.resize(200, 22);
    meter.showLevelsAt(stereo(0.7F, 0.2F), t += 40);
    EXPECT_EQ(onScreen(), wholePaint());
}

TEST(LevelScale, TicksStandUnderTheMatchingMeterValues)
{
    // Meter and scale side by side at one width, as the console lays them out.
    MMLevel meter;
    MMLevelScale scale;
    meter.resize(304, 22);
    scale.resize(304, scale.sizeHint().height());
    EXPECT_DOUBLE_EQ(MMLevelScale::tickDb(0), MMLevel::MinimumDb);
    EXPECT_DOUBLE_EQ(MMLevelScale::tickDb(MMLevelScale::EnlargeEvery), -30.0);
    EXPECT_DOUBLE_EQ(MMLevelScale::tickDb(MMLevelScale::TickCount - 1), 0.0);

    // A -30 dB reading lights the bar up to the middle (larger) tick, within a segment.
    meter.showLevelsAt(stereo(static_cast<float>(std::pow(10.0, -30.0 / 20.0)), 0.0F), 0);
    const QImage image = meter.grab().toImage();
    int lastLit = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (litGreen(image.pixelColor(x, 5)))
            lastLit = x;
    }
    EXPECT_NEAR(lastLit, scale.tickX(MMLevelScale::EnlargeEvery), 4);
    EXPECT_EQ(scale.tickX(0), MMLevel::SideMargin);
    EXPECT_EQ(scale.tickX(MMLevelScale::TickCount - 1), scale.width() - MMLevel::SideMargin);
}

} // namespace
} // namespace tarnveil
