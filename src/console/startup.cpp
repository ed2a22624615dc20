#include "console/startup.h"

#include "console/handler_guard.h"
#include "console/main_window.h"
#include "console/module1.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "platform/registry.h"

#include <QApplication>
#include <QIcon>

#include <exception>

namespace tarnveil {

mnuMenu* openConsole(const DriveMap& drives, Module1& module)
{
    try {
        // A new prefix also gets the registry the About window looks things up in.
        if (drives.ensureSystemDrive())
            writeDefaultSystemReg(drives.prefix());
        auto* window = new mnuMenu(module);
        window->show();
        return window;
    } catch (const Failure& failure) {
        showFatalFailure(failure.message());
    } catch (const std::exception& error) {
        showFatalFailure(error.what());
    }
    return nullptr;
}

int runTarnveil(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnveil"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnveil/tarnveil.png")));
    // Auxiliary windows outlive the console; the program ends with the last window.
    QApplication::setQuitOnLastWindowClosed(true);

    const DriveMap drives(DriveMap::defaultPrefix());
    Module1 module(drives);
    if (openConsole(drives, module) == nullptr)
        return 1;
    return QApplication::exec();
}

} // namespace tarnveil
