#pragma once

#include "timeline/clip_writer.h"

#include <QDialog>

#include <cstdint>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace tarnveil {

class MomentField;

// Where and how the last clip was saved, offered for the next one. The console
// keeps it while it runs; it is not a setting.
struct ClipChoice {
    QString folder;
    QString formatCaption;
};

// Asks what to save: From and To as times of day, a format and a file name. Modeless, ownerless,
// single instance; closing destroys it. GUI thread only.
class frmSaveClip : public QDialog {
    Q_OBJECT

public:
    // From and To in milliseconds since the epoch.
    static frmSaveClip* showWindow(int64_t fromMs, int64_t toMs, std::vector<ClipFormat> formats,
                                   const ClipChoice& last);
    static frmSaveClip* instance();

    MomentField* txtFrom = nullptr;
    MomentField* txtTo = nullptr;
    QComboBox* cboFormat = nullptr;
    QLineEdit* txtFile = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdCancel = nullptr;

    int64_t fromMs() const;
    int64_t toMs() const;
    const ClipFormat& format() const;
    // The file name, with the format's suffix added when it has none.
    QString fileName() const;
    ClipChoice choice() const;

    // The file is there already: asks whether to replace it, and asks for the
    // save again when the answer is yes.
    void askToReplace();

signals:
    // Save pressed with a file name, or replacing agreed to; the window stays
    // open until the caller closes it.
    void saveRequested(bool replace);

private:
    frmSaveClip();
    bool hasFileName() const;
    void browse();

    std::vector<ClipFormat> formats_;
};

} // namespace tarnveil
