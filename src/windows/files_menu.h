#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace tarnveil {

// The auxiliary windows' one menu: Files with Exit, which closes the window.
inline void addFilesExitMenu(QMainWindow& window, QMenu*& mnuFiles, QAction*& mnuExit)
{
    mnuFiles = window.menuBar()->addMenu(QStringLiteral("Files"));
    mnuFiles->setObjectName(QStringLiteral("mnuFiles"));
    mnuExit = mnuFiles->addAction(QStringLiteral("Exit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    QObject::connect(mnuExit, &QAction::triggered, &window, &QWidget::close);
}

} // namespace tarnveil
