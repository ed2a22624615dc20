#include "program/module1.h"

#include <string>

namespace tarnveil {

void Module1::FormatTime()
{
    // Positions never lie before the start of a file; a negative count (a
    // remaining time past the end after a seek) reads as nothing left.
    const int32_t s = TimeSeconds < 0 ? 0 : TimeSeconds % 86400;
    const int32_t h = s / 3600;
    const int32_t m = (s % 3600) / 60;
    const int32_t x = s % 60;

    std::string text;
    if (h != 0) {
        if (h < 10)
            text += ' ';
        text += std::to_string(h);
        text += ':';
    }
    if (m < 10)
        text += '0';
    text += std::to_string(m);
    text += ':';
    if (x < 10)
        text += '0';
    text += std::to_string(x);
    TimeText = std::move(text);
}

} // namespace tarnveil
