#pragma once

#include <QLabel>

namespace tarnveil {

// A line of news that shows for a few seconds at the foot of a widget and goes
// by itself: it takes no focus and wants no click, so playback and the
// operator's work go on undisturbed. One at a time; a newer one replaces it.
// GUI thread only.
class QuietNotice : public QLabel {
    Q_OBJECT

public:
    static void show(QWidget* over, const QString& text);
    // The notice showing, or nullptr.
    static QuietNotice* instance();

private:
    QuietNotice();
};

} // namespace tarnveil
