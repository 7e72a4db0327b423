#include "measure/previews.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace slabtone {

std::uint32_t preview_step(std::uint32_t width, std::uint32_t height) noexcept {
    const std::uint32_t longer = std::max(width, height);
    return std::max(
        1u, longer / PreviewSlice::kLongestSide + (longer % PreviewSlice::kLongestSide != 0));
}

PreviewSlice preview_of(std::int64_t slice, const RowTable& rows, std::uint32_t width, bool floats,
                        const Calibration& calibration,
                        const std::optional<std::string>& description) {
    PreviewSlice p;
    p.slice = slice;
    p.width = width;
    p.height = rows.height();
    p.step = preview_step(p.width, p.height);
    p.columns = (p.width - 1) / p.step + 1;
    p.rows = (p.height - 1) / p.step + 1;
    p.lac_scale = calibration.lac_scale;
    p.lac_offset = calibration.lac_offset;
    p.description = description;
    const std::size_t shown = std::size_t{p.columns} * p.rows;
    if (floats) {
        p.values.reserve(shown);
    } else {
        p.samples.reserve(shown);
    }
    for (std::uint32_t j = 0; j < p.rows; ++j) {
        const std::uint16_t* row = rows.row(j * p.step);
        for (std::uint32_t i = 0; i < p.columns; ++i) {
            const std::size_t at = std::size_t{i} * p.step;
            if (floats) {
                float value;
                std::memcpy(&value, row + 2 * at, sizeof value);
                p.values.push_back(value);
            } else {
                p.samples.push_back(row[at]);
            }
        }
    }
    return p;
}

void SmallestSlice::include(std::int64_t slice, std::uint32_t slice_width,
                            std::uint32_t slice_height) {
    if (slice_width < width) {
        width = slice_width;
        width_slice = slice;
    }
    if (slice_height < height) {
        height = slice_height;
        height_slice = slice;
    }
}

}  // namespace slabtone
