#include "support/audio_env.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Headless everywhere unless a test run asks for a real display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    tarnveil::test::prepareAudioEnvironment();
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
