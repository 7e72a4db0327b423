// The slices the window page shows, sampled down to at most
// PreviewSlice::kLongestSide on their longer side.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "slabtone/measurement.hpp"
#include "tiff/row_table.hpp"

namespace slabtone {

// Of a slice of 16-bit samples (their bits, for signed ones), or with
// `floats` of float samples (into PreviewSlice::values). `width` is the
// slice's width in samples.
PreviewSlice preview_of(std::int64_t slice, const RowTable& rows, std::uint32_t width, bool floats,
                        const Calibration& calibration,
                        const std::optional<std::string>& description);

}  // namespace slabtone
