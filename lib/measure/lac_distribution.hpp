// The exact distribution of LAC values over a stack: per distinct
// calibration (fields 3 and 4 of the record) a count of every 16-bit sample
// value, merged in LAC order at the end (SampleCounts, LacDistribution and
// saturation are the public header's).
#pragma once

#include <cstdint>

#include "slabtone/measurement.hpp"
#include "tiff/row_table.hpp"

namespace slabtone {

// Counts every sample of `rows` under `calibration`; with `inside_circle`,
// only those inside the slice's reconstruction circle (circle_columns).
void count_samples(SampleCounts& counts, const RowTable& rows, const Calibration& calibration,
                   bool inside_circle);

// A reconstructed slice holds real data in a circle; its corners are zeros
// or noise. The circle of a width x height slice: the samples (x, y) with
// (x - (w-1)/2)^2 + (y - (h-1)/2)^2 <= (min(w, h)/2)^2, exactly. Row y's
// samples inside it are the columns [first, last]; empty when first > last.
struct ColumnRange {
    std::int64_t first = 0;
    std::int64_t last = -1;
};
ColumnRange circle_columns(std::uint32_t width, std::uint32_t height, std::uint32_t y);

}  // namespace slabtone
