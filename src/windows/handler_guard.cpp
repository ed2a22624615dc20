#include "windows/handler_guard.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace tarnveil {

void showFatalFailure(const std::string& message)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarnveil"), QString::fromStdString(message),
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("fatalFailureBox"));
    box.exec();
}

void endProgramWithFailure(const std::string& message)
{
    // The box runs its own event loop, in which the timer ticks on; a failing
    // tick must not stack a second box on the first.
    static bool ending = false;
    if (ending)
        return;
    ending = true;
    showFatalFailure(message);
    ending = false;
    QCoreApplication::exit(1);
}

} // namespace tarnveil
