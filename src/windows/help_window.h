#pragma once

#include <QMainWindow>

class QAction;
class QMenu;
class QTextEdit;

namespace tarnveil {

class DriveMap;

// "c:\program files\Tarnveil\help.rtf": the operator's guide, read only.
inline constexpr const char* HelpDocumentPath = "c:\\program files\\Tarnveil\\help.rtf";

// The help window: the operator's guide in a read-only rich-text area. Single
// instance, modeless, without an owner. GUI thread only.
class frmHelp : public QMainWindow {
    Q_OBJECT

public:
    // Brings the open window to the front, or loads a new one (reading the guide
    // afresh) and shows it. A guide that cannot be read is reported in the error
    // window and the help window opens empty.
    static frmHelp* showWindow(const DriveMap& drives);

    // The open window, or nullptr.
    static frmHelp* instance();

    QTextEdit* RichTextBox1 = nullptr;
    QMenu* mnuFiles = nullptr;
    QAction* mnuExit = nullptr;

private:
    explicit frmHelp(const DriveMap& drives);
    void Form_Load(const DriveMap& drives);

    bool reportedFailure_ = false;
};

} // namespace tarnveil
