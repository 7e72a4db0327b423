// The LAC distribution drawn as a self-contained SVG histogram: counts on a
// logarithmic scale, a LAC axis with ticks, and the proposed window marked.
#pragma once

#include <string>

#include "slabtone/measurement.hpp"

namespace slabtone {

std::string histogram_svg(const LacDistribution& distribution, double lac_min, double lac_max);

}  // namespace slabtone
