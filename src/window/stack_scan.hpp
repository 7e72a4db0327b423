// One pass over the slices of a range, read and calibrated exactly as
// slabtone reads them: the counts of every sample value per calibration,
// the slices to show on the page, and the smallest slice sizes.
#pragma once

#include <cstdint>
#include <vector>

#include "lac_distribution.hpp"
#include "window_command_line.hpp"
#include "window_page.hpp"

namespace slabtone {

struct StackScan {
    SampleCounts counts;
    std::vector<PreviewSlice> previews;  // in the order of parameters.show
    SmallestSlice smallest;
};

// Throws the SliceError of the first slice that cannot be read or has no
// calibration; prints progress on standard error when it is a terminal.
StackScan scan_stack(const WindowParameters& parameters);

}  // namespace slabtone
