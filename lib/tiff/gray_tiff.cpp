#include "tiff/gray_tiff.hpp"

#include <algorithm>
#include <cstdint>
#include <new>

#include "common/failure.hpp"
#include "common/saturating.hpp"
#include "tiff/image_attributes.hpp"
#include "tiff/strip_tables.hpp"
#include "tiff/tiff_directory.hpp"

namespace slabtone {

namespace {

RowTable allocate_rows(std::uint32_t width, std::uint32_t height, RowTable recycled,
                       const std::string& file_name) {
    RowTable rows = RowTable::allocate(width, height, std::move(recycled));
    if (rows.empty()) fail_for_memory(file_name, Failure::cell_allocation);
    return rows;
}

}  // namespace

GraySlice read_gray_tiff(const InputFile& file, const std::string& file_name,
                         ReaderBuffers& buffers, ReadRequest request) {
    TiffDirectory directory(file, file_name);
    const ImageLayout layout = check_image_attributes(directory, file_name);

    GraySlice slice;
    slice.width = static_cast<std::int32_t>(layout.width);
    slice.height = static_cast<std::int32_t>(layout.height);
    slice.bits_per_sample = static_cast<std::int32_t>(layout.bits_per_sample);
    if (request.description) slice.description = read_description(directory, file_name);
    if (!request.rows) return slice;

    if (request.place) {
        std::uint8_t* placed = request.place(layout.width, layout.height);
        if (placed == nullptr) fail_for_memory(file_name, Failure::cell_allocation);
        slice.rows = RowTable::placed(placed, layout.width, layout.height);
    } else {
        slice.rows = allocate_rows(layout.width, layout.height, std::move(buffers.rows), file_name);
    }
    const StripTables tables = read_strip_tables(directory, layout.height, file_name);
    assemble_rows(file, file_name, layout, tables, directory.byte_order(), slice.rows,
                  buffers.scratch, request.path);
    return slice;
}

GraySlice read_gray_tiff(const InputFile& file, const std::string& file_name, ReadRequest request) {
    ReaderBuffers buffers;
    return read_gray_tiff(file, file_name, buffers, request);
}

GraySlice read_gray_tiff(const std::string& path, const std::string& file_name,
                         ReaderBuffers& buffers, ReadRequest request) {
    std::optional<InputFile> file = InputFile::open(path, file_name);
    if (!file) fail(file_name, Failure::file_not_found);
    return read_gray_tiff(*file, file_name, buffers, request);
}

GraySlice read_gray_tiff(const std::string& path, ReaderBuffers& buffers, ReadRequest request) {
    return read_gray_tiff(path, path, buffers, request);
}

std::uint64_t SliceShape::reading_need() const noexcept {
    const std::uint64_t samples = saturating_mul(width, height);
    std::uint64_t need =
        saturating_add(saturating_mul(samples, 2), saturating_mul(height, sizeof(void*)));
    // The encoded strip, at most.
    if (compression != Compression::none) need = saturating_add(need, file_size);
    if (bits_per_sample != 16) {
        need =
            saturating_add(need, saturating_add(saturating_mul(samples, bits_per_sample), 7) / 8);
    }
    return need;
}

std::optional<SliceShape> probe_gray_tiff(const std::string& path) {
    try {
        std::optional<InputFile> file = InputFile::open(path, path);
        if (!file) return std::nullopt;
        TiffDirectory directory(*file, path);
        const ImageLayout layout = check_image_attributes(directory, path);
        SliceShape shape;
        shape.width = layout.width;
        shape.height = layout.height;
        shape.bits_per_sample = layout.bits_per_sample;
        shape.compression = layout.compression;
        shape.file_size = file->holds(0, 0) ? file->size() : 0;
        return shape;
    } catch (const SliceError&) {
        return std::nullopt;
    }
}

GraySlice read_gray_tiff(const std::string& path, ReadRequest request) {
    ReaderBuffers buffers;
    return read_gray_tiff(path, buffers, request);
}

}  // namespace slabtone
