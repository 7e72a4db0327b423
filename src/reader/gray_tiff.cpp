#include "gray_tiff.hpp"

#include "failure.hpp"
#include "image_attributes.hpp"
#include "memory_budget.hpp"
#include "strip_tables.hpp"
#include "tiff_directory.hpp"

namespace slabtone {

namespace {

RowTable allocate_rows(std::uint32_t width, std::uint32_t height, RowTable recycled,
                       const std::string& file_name) {
    // Counted as the classic layout takes it: a pointer per row and two
    // bytes per sample.
    auto per_row = std::uint64_t{width} * 2 + sizeof(void*);
    if (!budgeted_bytes(height, per_row)) fail(file_name, Failure::cell_allocation);
    RowTable rows = RowTable::allocate(width, height, std::move(recycled));
    if (rows.empty()) fail(file_name, Failure::cell_allocation);
    return rows;
}

}  // namespace

GraySlice read_gray_tiff(const std::string& path, ReadRequest request) {
    ReaderBuffers buffers;
    return read_gray_tiff(path, buffers, request);
}

GraySlice read_gray_tiff(const std::string& path, ReaderBuffers& buffers, ReadRequest request) {
    std::optional<InputFile> file = InputFile::load(path, std::move(buffers.file));
    if (!file) fail(path, Failure::file_not_found);
    buffers.file = std::move(*file);
    return read_gray_tiff(buffers.file, path, buffers, request);
}

GraySlice read_gray_tiff(const InputFile& file, const std::string& file_name, ReadRequest request) {
    ReaderBuffers buffers;
    return read_gray_tiff(file, file_name, buffers, request);
}

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

    slice.rows = allocate_rows(layout.width, layout.height, std::move(buffers.rows), file_name);
    const StripTables tables = read_strip_tables(directory, layout.height, file_name);
    assemble_rows(file, file_name, layout, tables, directory.byte_order(), slice.rows,
                  buffers.scratch, request.path);
    return slice;
}

}  // namespace slabtone
