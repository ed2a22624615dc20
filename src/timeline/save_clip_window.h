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

// Asks what to save: From and To as times of day, a format and a file name. Modeless, ownerless,
// single instance; closing destroys it. GUI thread only.
class frmSaveClip : public QDialog {
    Q_OBJECT

public:
    // From and To in milliseconds since the epoch.
    static frmSaveClip* showWindow(int64_t fromMs, int64_t toMs, std::vector<ClipFormat> formats);
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

signals:
    // Save pressed with a file name; the window stays open until the caller closes it.
    void saveRequested();

private:
    frmSaveClip();
    void browse();

    std::vector<ClipFormat> formats_;
};

} // namespace tarnveil
