#pragma once

#include <vector>

namespace tarnveil {

// The gated measures of ITU-R BS.1770-4 and EBU Tech 3342, taken over the
// K-weighted energies of the blocks libebur128 measured: the 400 ms blocks
// that overlap by 75 % for integrated loudness, the 3 s blocks for the
// loudness range. Minus infinity / 0 LU when no block passes the gates.
double integratedLoudness(const std::vector<double>& blockEnergies);
double loudnessRange(const std::vector<double>& shortTermEnergies);

double energyToLoudness(double energy);

} // namespace tarnveil
