#include "console/console_colours.h"

#include <QPushButton>

namespace tarnveil {

void setButtonColour(QPushButton* button, const QColor& colour)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, colour);
    button->setPalette(palette);
    // A style sheet background is the one fill every style honours; the border
    // is drawn here too, so the button still looks raised, sunk when pressed and
    // shows where the keyboard focus is.
    const QString fill = colour.name();
    const QString edge = colour.darker(160).name();
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: %1; color: #000000; border: 2px outset %2;"
        " border-radius: 3px; padding: 4px 12px; }"
        "QPushButton:pressed { border-style: inset; }"
        "QPushButton:focus { border: 2px solid #000000; }"
        "QPushButton:disabled { color: #808080; }")
                              .arg(fill, edge));
}

QColor buttonColour(const QPushButton* button)
{
    return button->palette().color(QPalette::Button);
}

} // namespace tarnveil
