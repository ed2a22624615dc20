// The help window's rich-text reader over arbitrary bytes. Any input must be
// shown without a crash, and what is shown stays in proportion to the input:
// a few characters per byte at most, however the groups and control words nest.

#include "fuzz_support.h"
#include "windows/rtf_reader.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QTextDocument>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    // Fonts need a GUI application; no window is ever shown.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz_rtf_reader";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QTextDocument document;
    tarnveil::readRtf(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), document);
    const QString shown = document.toPlainText();
    tarnveil::fuzz::expect(static_cast<size_t>(shown.size()) <= 8 * size + 64, "output out of proportion to the input");
    return 0;
}
