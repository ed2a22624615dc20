#include "loudness/gating.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarnveil {

namespace {

constexpr double AbsoluteGateLufs = -70.0;

double loudnessToEnergy(double loudness)
{
    return std::pow(10.0, (loudness + 0.691) / 10);
}

// The blocks above the absolute gate and above `relativeGateLu` below their mean.
std::vector<double> gated(const std::vector<double>& energies, double relativeGateLu)
{
    const double absoluteGate = loudnessToEnergy(AbsoluteGateLufs);
    double sum = 0;
    size_t count = 0;
    for (const double energy : energies) {
        if (energy > absoluteGate) {
            sum += energy;
            ++count;
        }
    }
    if (count == 0)
        return {};
    const double relativeGate = sum / static_cast<double>(count) * std::pow(10.0, relativeGateLu / 10);
    std::vector<double> kept;
    kept.reserve(count);
    for (const double energy : energies)
        if (energy > absoluteGate && energy > relativeGate)
            kept.push_back(energy);
    return kept;
}

} // namespace

double energyToLoudness(double energy)
{
    return energy > 0 ? 10 * std::log10(energy) - 0.691 : -std::numeric_limits<double>::infinity();
}

double integratedLoudness(const std::vector<double>& blockEnergies)
{
    const std::vector<double> kept = gated(blockEnergies, -10.0);
    if (kept.empty())
        return -std::numeric_limits<double>::infinity();
    double sum = 0;
    for (const double energy : kept)
        sum += energy;
    return energyToLoudness(sum / static_cast<double>(kept.size()));
}

double loudnessRange(const std::vector<double>& shortTermEnergies)
{
    std::vector<double> kept = gated(shortTermEnergies, -20.0);
    if (kept.empty())
        return 0;
    std::sort(kept.begin(), kept.end());
    auto percentile = [&](double share) {
        return energyToLoudness(kept[static_cast<size_t>(static_cast<double>(kept.size() - 1) * share + 0.5)]);
    };
    return percentile(0.95) - percentile(0.10);
}

} // namespace tarnveil
