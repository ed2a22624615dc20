#pragma once

namespace tarnveil {

// The auxiliary windows were laid out in twips; 15 of them make a pixel at 96 dpi.
constexpr int px(int twips)
{
    return twips / 15;
}

} // namespace tarnveil
