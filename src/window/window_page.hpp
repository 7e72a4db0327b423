// The window page: one self-contained HTML file on which the user moves the
// window over the stack's LAC histogram and sees real slices as slabtone
// will write them. The page's own files (src/window/page/) are built into
// the program; this fills in the stack's data.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "lac_distribution.hpp"
#include "row_table.hpp"

namespace slabtone {

// A slice shown on the page: every step-th sample of every step-th row,
// with the smallest step that keeps its longer side at most 1024 samples,
// and the calibration its record gives it in the run.
struct PreviewSlice {
    static constexpr std::uint32_t kLongestSide = 1024;

    std::int64_t slice = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t step = 1;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    double lac_scale = 0;
    float lac_offset = 0;
    std::optional<std::string> description;
    std::vector<std::uint16_t> samples;  // columns * rows, row after row
};

// The step of the samples shown: the longer side in at most kLongestSide.
std::uint32_t preview_step(std::uint32_t width, std::uint32_t height) noexcept;

PreviewSlice preview_of(std::int64_t slice, const RowTable& rows, double lac_scale,
                        float lac_offset, const std::optional<std::string>& description);

// The narrowest and the lowest slice of the range: a crop rectangle must
// lie inside both.
struct SmallestSlice {
    std::uint32_t width = std::numeric_limits<std::uint32_t>::max();
    std::int64_t width_slice = 0;
    std::uint32_t height = std::numeric_limits<std::uint32_t>::max();
    std::int64_t height_slice = 0;

    void include(std::int64_t slice, std::uint32_t slice_width, std::uint32_t slice_height);
};

// Two planes across the slices, for the page: the row y of every m-th
// slice (xz) and its column x (yz), every step-th sample, each slice with
// its own calibration.
struct Planes {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t step = 1;
    std::uint32_t columns = 0;         // of xz: samples x = 0, step, ... of the smallest width
    std::uint32_t rows = 0;            // of yz: samples y = 0, step, ... of the smallest height
    std::vector<std::int64_t> slices;  // n1, n2, ...: every m-th of the range
    std::vector<double> lac_scale;     // of each slice, as the scan calibrated it
    std::vector<float> lac_offset;
    std::vector<std::uint16_t> xz;  // a row of `columns` samples per slice
    std::vector<std::uint16_t> yz;  // `rows` rows of one sample per slice

    // Where slice `slice` stands among `slices`, or nullopt.
    std::optional<std::size_t> index_of(std::int64_t slice) const;
};

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
};

std::string window_page(const WindowPage& page);

// Text as a JSON string that is safe inside an HTML script block: quotes,
// backslashes, control characters, '<', '>', '&' and every byte above 127
// (read as Latin-1) are escaped.
std::string json_string(std::string_view text);

}  // namespace slabtone
