// The slices the window page shows, sampled down to at most
// PreviewSlice::kLongestSide on their longer side.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "slabtone/slabtone.hpp"
#include "tiff/row_table.hpp"

namespace slabtone {

PreviewSlice preview_of(std::int64_t slice, const RowTable& rows, const Calibration& calibration,
                        const std::optional<std::string>& description);

}  // namespace slabtone
