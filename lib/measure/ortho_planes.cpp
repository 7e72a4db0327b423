#include "measure/ortho_planes.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "convert/slice_conversion.hpp"
#include "convert/stack_folder.hpp"
#include "platform/files.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone {

std::optional<std::pair<std::uint32_t, std::uint32_t>> smallest_size(
    std::int64_t first, std::int64_t last, const std::string& folder,
    const std::string& input_pattern) {
    if (first > last) return std::nullopt;
    const StackFolder stack(folder, slice_names_of(input_pattern, {}));
    std::pair<std::uint32_t, std::uint32_t> smallest{UINT32_MAX, UINT32_MAX};
    for (std::int64_t slice = first; slice <= last; ++slice) {
        const std::string name = stack.input_path(slice);
        if (!is_regular_file(name)) return std::nullopt;
        const std::optional<SliceShape> shape =
            input_pattern.empty() ? probe_gray_tiff(name) : probe_open_tiff(name);
        if (!shape) return std::nullopt;
        smallest.first = std::min(smallest.first, shape->width);
        smallest.second = std::min(smallest.second, shape->height);
    }
    return smallest;
}

std::optional<PlaneGeometry> plane_geometry(
    std::int64_t first, std::int64_t last, std::pair<std::uint32_t, std::uint32_t> smallest,
    std::optional<std::pair<std::uint32_t, std::uint32_t>> at, std::uint32_t most_slices) {
    const auto [width, height] = smallest;
    if (first > last || width == 0 || height == 0 || most_slices == 0) return std::nullopt;
    PlaneGeometry g;
    g.x = at ? at->first : width / 2;
    g.y = at ? at->second : height / 2;
    if (g.x >= width || g.y >= height) return std::nullopt;
    g.step = preview_step(width, height);
    g.columns = (width - 1) / g.step + 1;
    g.rows = (height - 1) / g.step + 1;
    g.first = first;
    const std::uint64_t slices = static_cast<std::uint64_t>(last - first) + 1;
    g.every = static_cast<std::int64_t>((slices + most_slices - 1) / most_slices);
    g.count = static_cast<std::size_t>((slices - 1) / static_cast<std::uint64_t>(g.every) + 1);
    return g;
}

Planes empty_planes(const PlaneGeometry& g) {
    Planes planes;
    planes.x = g.x;
    planes.y = g.y;
    planes.step = g.step;
    planes.columns = g.columns;
    planes.rows = g.rows;
    planes.slices.reserve(g.count);
    planes.xz.reserve(g.count * g.columns);
    planes.yz.assign(g.count * std::size_t{g.rows}, 0);
    return planes;
}

bool in_planes(const PlaneGeometry& g, std::int64_t slice) {
    return slice >= g.first && (slice - g.first) % g.every == 0 &&
           static_cast<std::size_t>((slice - g.first) / g.every) < g.count;
}

std::optional<PlaneCut> cut_planes(const PlaneGeometry& g, const RowTable& rows,
                                   std::uint32_t width, bool floats, double lac_scale,
                                   float lac_offset) {
    if (std::uint64_t{g.columns - 1} * g.step >= width ||
        std::uint64_t{g.rows - 1} * g.step >= rows.height() || g.x >= width ||
        g.y >= rows.height()) {
        return std::nullopt;
    }
    PlaneCut cut;
    cut.lac_scale = lac_scale;
    cut.lac_offset = lac_offset;
    if (floats) {
        auto value_at = [&](std::uint32_t r, std::size_t x) {
            float value;
            std::memcpy(&value, rows.row(r) + 2 * x, sizeof value);
            return value;
        };
        cut.row_values.resize(g.columns);
        cut.column_values.resize(g.rows);
        for (std::uint32_t i = 0; i < g.columns; ++i) {
            cut.row_values[i] = value_at(g.y, std::size_t{i} * g.step);
        }
        for (std::uint32_t r = 0; r < g.rows; ++r) cut.column_values[r] = value_at(r * g.step, g.x);
        return cut;
    }
    cut.row.resize(g.columns);
    cut.column.resize(g.rows);
    const std::uint16_t* row = rows.row(g.y);
    for (std::uint32_t i = 0; i < g.columns; ++i) cut.row[i] = row[std::size_t{i} * g.step];
    for (std::uint32_t r = 0; r < g.rows; ++r) cut.column[r] = rows.row(r * g.step)[g.x];
    return cut;
}

void add_to_planes(Planes& planes, const PlaneGeometry& g, std::int64_t slice,
                   const PlaneCut& cut) {
    const std::size_t j = planes.slices.size();
    planes.slices.push_back(slice);
    planes.lac_scale.push_back(cut.lac_scale);
    planes.lac_offset.push_back(cut.lac_offset);
    if (!cut.row_values.empty()) {
        if (planes.yz_values.empty()) planes.yz_values.assign(planes.yz.size(), 0.0f);
        planes.xz_values.insert(planes.xz_values.end(), cut.row_values.begin(),
                                cut.row_values.end());
        for (std::uint32_t r = 0; r < g.rows; ++r)
            planes.yz_values[std::size_t{r} * g.count + j] = cut.column_values[r];
        return;
    }
    planes.xz.insert(planes.xz.end(), cut.row.begin(), cut.row.end());
    for (std::uint32_t r = 0; r < g.rows; ++r)
        planes.yz[std::size_t{r} * g.count + j] = cut.column[r];
}

}  // namespace slabtone
