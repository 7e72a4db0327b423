// The page's two planes across the slices: where they cut, chosen before
// the scan from the slices' headers, and what each slice gives them.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "row_table.hpp"
#include "window_page.hpp"

namespace slabtone {

// At most this many slices in a plane: every m-th of the range, m as small
// as keeps them within it.
inline constexpr std::uint32_t kPlaneSlices = 1024;

struct PlaneGeometry {
    std::uint32_t x = 0;        // the column yz cuts
    std::uint32_t y = 0;        // the row xz cuts
    std::uint32_t step = 1;     // every step-th sample, as the previews
    std::uint32_t columns = 0;  // of xz
    std::uint32_t rows = 0;     // of yz
    std::int64_t first = 0;     // the first slice of the range
    std::int64_t every = 1;     // m
    std::size_t count = 0;      // slices in the planes
};

// The smallest width and height of the slices first..last, from their
// headers; nullopt when a slice is not a regular file (which may be read
// only once) or cannot be read as far as its size.
std::optional<std::pair<std::uint32_t, std::uint32_t>> smallest_size(std::int64_t first,
                                                                     std::int64_t last);

// The planes for slices of at least width x height, cut at `at` (column,
// row) or else through the middle; nullopt when `at` lies outside.
std::optional<PlaneGeometry> plane_geometry(
    std::int64_t first, std::int64_t last, std::pair<std::uint32_t, std::uint32_t> smallest,
    std::optional<std::pair<std::uint32_t, std::uint32_t>> at,
    std::uint32_t most_slices = kPlaneSlices);

// Empty planes of that geometry, to be filled slice by slice.
Planes empty_planes(const PlaneGeometry& geometry);

// Whether `slice` is one of the planes' slices.
bool in_planes(const PlaneGeometry& geometry, std::int64_t slice);

// What one plane slice gives the planes: its row y and its column x, every
// step-th sample, with its calibration.
struct PlaneCut {
    std::vector<std::uint16_t> row;     // geometry.columns samples
    std::vector<std::uint16_t> column;  // geometry.rows samples
    double lac_scale = 0;
    float lac_offset = 0;
};

// nullopt when the slice is too small for the planes (it changed since its
// header was read).
std::optional<PlaneCut> cut_planes(const PlaneGeometry& geometry, const RowTable& rows,
                                   double lac_scale, float lac_offset);

// Adds the next plane slice, in slice order.
void add_to_planes(Planes& planes, const PlaneGeometry& geometry, std::int64_t slice,
                   const PlaneCut& cut);

}  // namespace slabtone
