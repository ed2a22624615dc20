#pragma once

#include <QDialog>

#include <exception>

class QLabel;
class QPushButton;

namespace tarnveil {

// The one way failures reach the operator: a modeless, ownerless window with a
// message, always shown whole. Single instance; a second report replaces the text. Closing
// it (OK, Enter or the close box) destroys it; the next report builds it afresh.
// Escape does nothing. GUI thread only.
class frmError : public QDialog {
    Q_OBJECT

public:
    // Shows the window (creating it when needed, else bringing it to the front)
    // and returns it; the caller then sets lblMessage's text.
    static frmError* showWindow();

    // Shows the window and sets its message: the usual two steps in one call.
    static void report(const QString& message);

    // Reports a caught failure as its number, one space and its description;
    // an exception that is not one of the program's own gets its number here.
    static void report(const std::exception& error);

    // The open window, or nullptr.
    static frmError* instance();

    QLabel* lblMessage = nullptr;
    QPushButton* OKButton = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    frmError();
    void fitToMessage();
};

} // namespace tarnveil
