#pragma once

#include "components/wave_out.h"
#include "share/drive_lane.h"

#include <QMainWindow>

#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;

namespace tarnveil {

struct Module1;

// The operator's choice of sound card and logger drive letter, saved by Apply to
// the settings file. It shows what the file holds, not what is in use. Single
// instance, modeless, no owner; closing it discards what was not applied.
// GUI thread only.
class frmMyPreferences : public QMainWindow {
    Q_OBJECT

public:
    // Shows the window, loading it first when it is not open; an open window is
    // only brought to the front. A failure to list the sound cards goes to the
    // error window, and the window opens without them.
    static frmMyPreferences* showWindow(Module1& module);

    // The open window, or nullptr.
    static frmMyPreferences* instance();

    QListWidget* lstMM1 = nullptr;
    QLineEdit* txtDrive = nullptr;
    QPushButton* cmdApply = nullptr;
    QPushButton* cmdClose = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblMM1 = nullptr;
    QLabel* Label8 = nullptr;
    // The folder behind the letter typed, and what Apply maps the letter to.
    QLabel* lblFolder = nullptr;
    QLineEdit* txtFolder = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QLabel* lblFolderWarning = nullptr;
    QMenu* mnuFiles = nullptr;
    QAction* mnuExit = nullptr;

signals:
    // Apply has stored the settings; `remapped` when it gave drive `letter`
    // (upper case) a new folder.
    void applied(bool remapped, char letter);

private:
    explicit frmMyPreferences(Module1& module);

    void Form_Load();
    void cmdApply_Click();
    void cmdBrowse_Click();
    void showFolderOfLetter();
    void checkLoggerFolder(const QString& folder);
    void showFolderWarning(const QString& text);
    void chooseFolder(const QString& start);
    void mapAndStore(int32_t device, const std::string& driveText, char letter, const QString& folder);

    Module1& module_;
    // What the letter typed is mapped to now, as shown when the letter was typed.
    QString mappedFolder_;
    DriveLane lane_;
    // Where Browse starts is looked at first: a folder on a share that does not
    // answer would hold up the dialog, and the window with it.
    DriveLane browseLane_;
    // Not shown: it only lists the output devices. Empty when PortAudio would
    // not start; the rest of the window works all the same.
    std::optional<tarnveil::WaveOut> WaveOut;
    // Why the sound cards could not be listed, until it is reported.
    QString soundCardFailure_;
};

} // namespace tarnveil
