#pragma once

#include <QDateTime>
#include <QDialog>

class QLabel;
class QPushButton;

namespace tarnveil {

class MomentField;

// Asks for a moment to play: one date-and-time field under the form it
// takes, OK (Enter) and Cancel (Escape). Modeless, ownerless, single
// instance; closing destroys it. GUI thread only.
class frmGoToTime : public QDialog {
    Q_OBJECT

public:
    // Shows the window (bringing an open one to the front) on `initial`.
    static frmGoToTime* showWindow(const QDateTime& initial);
    static frmGoToTime* instance();

    QLabel* lblForm = nullptr;
    MomentField* txtMoment = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

signals:
    // OK with this moment, local time; the window closes after it.
    void chosen(const QDateTime& moment);

private:
    frmGoToTime();
};

} // namespace tarnveil
