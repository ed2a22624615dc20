#pragma once

#include "platform/drive_map.h"

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace tarnveil {

// The program's title, as the About window and its message box show it.
inline constexpr const char* ProgramTitle = "Tarnveil";

// The text shown when the system-information tool cannot be started.
inline constexpr const char* SysInfoUnavailableText = "System Information Is Unavailable At This Time";

// The About window: title, version and description, and a button that starts the
// system-information tool named in the registry. Single instance, modeless,
// without an owner, kept off the taskbar. GUI thread only.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    // Brings the open window to the front, or loads a new one and shows it.
    static frmAbout* showWindow(const DriveMap& drives);

    // The open window, or nullptr.
    static frmAbout* instance();

    // Starts the system-information tool, or tells the operator in a modal message
    // box that it is unavailable. Never fails.
    void StartSysInfo();

    QLabel* picIcon = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblDescription = nullptr;
    QFrame* Line1[2] = {nullptr, nullptr}; // 0 white, 1 grey: an etched separator
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    explicit frmAbout(const DriveMap& drives);
    void Form_Load();
    // Throws Failure, or returns false, when the tool cannot be found.
    bool startTool();

    DriveMap drives_;
};

} // namespace tarnveil
