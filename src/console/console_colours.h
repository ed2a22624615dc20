#pragma once

#include <QColor>

class QPushButton;

namespace tarnveil {

// The console's colours, named for what they mean.
namespace colours {
inline const QColor WindowBlue{0x00, 0x00, 0xFF};
inline const QColor LabelText{0xFF, 0xFF, 0xFF};
inline const QColor PlayIdle{0x00, 0x80, 0x00};     // green
inline const QColor PlayRunning{0x80, 0xFF, 0x80};  // light green
inline const QColor PauseIdle{0xFF, 0xFF, 0xC0};    // light yellow
inline const QColor PausePaused{0xFF, 0xFF, 0x00};  // yellow
inline const QColor JumpButtons{0xC0, 0xFF, 0xC0};  // light green of <, > and Repeat
inline const QColor StopButton{0xFF, 0xFF, 0xFF};
inline const QColor RangeBackground{0xFF, 0xC0, 0xC0};
inline const QColor RangeText{0x00, 0x00, 0xFF};
inline const QColor RangeTextDisabled{0x80, 0x80, 0x80};
} // namespace colours

// Fills a push button with `colour` on every widget style: a style sheet forces
// the styled fill; the palette keeps the colour readable for the rest of the program.
void setButtonColour(QPushButton* button, const QColor& colour);
QColor buttonColour(const QPushButton* button);

} // namespace tarnveil
