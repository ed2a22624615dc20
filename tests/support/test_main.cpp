#include "support/audio_env.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Headless everywhere unless a test run asks for a real display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    tarnveil::test::prepareAudioEnvironment();
    // The catalogs the consoles under test keep go with the test program.
    const QTemporaryDir cache;
    setenv("XDG_CACHE_HOME", cache.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
