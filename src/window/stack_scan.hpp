// One pass over the slices of a range, read and calibrated exactly as
// slabtone reads them: the counts of every sample value per calibration,
// the slices to show on the page, and the smallest slice sizes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "lac_distribution.hpp"
#include "ortho_planes.hpp"
#include "window_command_line.hpp"
#include "window_page.hpp"

namespace slabtone {

struct StackScan {
    SampleCounts counts;
    std::vector<PreviewSlice> previews;  // in the order of parameters.show
    SmallestSlice smallest;
    std::optional<Planes> planes;  // when asked for and every plane slice gave its cut
};

// Throws the SliceError of the first slice that cannot be read or has no
// calibration; prints progress on standard error when it is a terminal.
// With `planes`, cuts the slices of those planes too.
StackScan scan_stack(const WindowParameters& parameters,
                     const std::optional<PlaneGeometry>& planes = std::nullopt);

}  // namespace slabtone
