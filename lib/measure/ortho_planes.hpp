// The page's two planes across the slices (PlaneGeometry and Planes are the
// public header's): what each slice gives them.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "slabtone/measurement.hpp"
#include "tiff/row_table.hpp"

namespace slabtone {

// Empty planes of that geometry, to be filled slice by slice.
Planes empty_planes(const PlaneGeometry& geometry);

// Whether `slice` is one of the planes' slices.
bool in_planes(const PlaneGeometry& geometry, std::int64_t slice);

// What one plane slice gives the planes: its row y and its column x, every
// step-th sample, with its calibration.
struct PlaneCut {
    std::vector<std::uint16_t> row;     // geometry.columns samples
    std::vector<std::uint16_t> column;  // geometry.rows samples
    std::vector<float> row_values;      // the same, of a float slice (row, column empty)
    std::vector<float> column_values;
    double lac_scale = 0;
    float lac_offset = 0;
};

// nullopt when the slice is too small for the planes (it changed since its
// header was read). `width` is the slice's width in samples; with `floats`
// its rows hold floats.
std::optional<PlaneCut> cut_planes(const PlaneGeometry& geometry, const RowTable& rows,
                                   std::uint32_t width, bool floats, double lac_scale,
                                   float lac_offset);

// Adds the next plane slice, in slice order.
void add_to_planes(Planes& planes, const PlaneGeometry& geometry, std::int64_t slice,
                   const PlaneCut& cut);

}  // namespace slabtone
