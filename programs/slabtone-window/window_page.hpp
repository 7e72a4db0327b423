// The window page: one self-contained HTML file on which the user moves the
// window over the stack's LAC histogram and sees real slices as slabtone
// will write them. The page's own files (page/) are built into
// the program; this fills in the stack's data.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "slabtone/measurement.hpp"

namespace slabtone {

struct WindowPage {
    std::int32_t sta_ly = 0;
    std::int32_t dst_ly = 0;
    std::int64_t slices = 0;
    double low = 0;  // the percentiles of the proposed window
    double high = 0;
    std::string lac_min_text;  // the proposed window, as the report prints it
    std::string lac_max_text;
    const SampleCounts* counts = nullptr;
    std::span<const PreviewSlice> previews;
    SmallestSlice smallest;
    // The counts describe only the samples inside each slice's
    // reconstruction circle; the page draws the circles.
    bool inside_circle = false;
    const Planes* planes = nullptr;  // none when null
    // A stack of signed samples counts their bits; a float stack has its
    // values' bins (counts then empty), all under one calibration.
    SampleType sample_type = SampleType::uint16;
    const FloatCounts* floats = nullptr;
    Calibration float_calibration{1, 0};
    // LAC values in the shortest form that reads back (else "%f"), and the
    // options the command holds.
    bool shortest = false;
    std::string options;
    // The proposed window's exact counts of 0 and 255, as the report's.
    Saturation proposed_saturated;
};

std::string window_page(const WindowPage& page);

}  // namespace slabtone
