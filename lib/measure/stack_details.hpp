// The second pass over a measured float stack.
#pragma once

#include <cstdint>
#include <vector>

#include "measure/float_values.hpp"
#include "slabtone/measurement.hpp"

namespace slabtone {

// The exact counts of the values in `bins` over the range of `request`,
// read again (the slices `measured` kept are taken from memory). Throws
// SliceError as measure_range does.
BinDetails count_bin_details(const MeasureRequest& request, const StackMeasurement& measured,
                             const std::vector<std::uint32_t>& bins);

}  // namespace slabtone
