#include "console/startup.h"

#include "components/portaudio_session.h"
#include "windows/handler_guard.h"
#include "console/main_window.h"
#include "program/module1.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "platform/registry.h"
#include "reports/command_line.h"
#include "windows/error_window.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include <exception>
#include <optional>

namespace tarnveil {

mnuMenu* openConsole(const DriveMap& drives, Module1& module)
{
    try {
        // A new prefix also gets the registry the About window looks things up in.
        if (drives.ensureSystemDrive())
            writeDefaultSystemReg(drives.prefix());
        auto* window = new mnuMenu(module);
        window->show();
        // The load step reported before the console came up; the operator must
        // see the report, not the console over it.
        if (frmError::instance() != nullptr)
            frmError::showWindow();
        return window;
    } catch (const std::exception& error) {
        showFatalFailure(failureFromException(error).message());
    }
    return nullptr;
}

int runConsole(mnuMenu* console)
{
    const QPointer<mnuMenu> open(console);
    const int status = QApplication::exec();
    // A fatal failure ends the event loop with the console still up: it closes,
    // and its player stops, before the program-wide state it works on goes.
    if (open) {
        open->close();
        delete open.data();
    }
    return status;
}

int runTarnveil(int argc, char** argv)
{
    // The reports run with no display, so they are told apart before any window system is touched.
    if (const std::optional<int> status = runCommandLine(argc, argv))
        return *status;
    // On X11 Qt hands each repaint over in shared memory and then waits for the
    // server's answer: two more wake-ups for every tick of the clock and every
    // step of the meter. The console's repaints are a few small rectangles,
    // cheaper sent whole. An operator's own setting is kept.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnveil"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnveil/tarnveil.png")));
    // Auxiliary windows outlive the console; the program ends with the last window.
    QApplication::setQuitOnLastWindowClosed(true);

    const DriveMap drives(DriveMap::defaultPrefix());
    Module1 module(drives);
    mnuMenu* console = openConsole(drives, module);
    if (console == nullptr)
        return 1;
    // Once the window is up, PortAudio starts beside it, ready for the first Play.
    std::optional<PortAudioWarmUp> soundSystem;
    QTimer::singleShot(0, console, [&soundSystem] { soundSystem.emplace(); });
    return runConsole(console);
}

} // namespace tarnveil
