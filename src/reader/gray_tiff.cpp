#include "gray_tiff.hpp"

#include <algorithm>
#include <bit>
#include <new>

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

// Uncompressed 16-bit rows in the machine's byte order, without
// differencing, whose strips follow one another in the file exactly as the
// rows do, can be read where they stand: the first row, or null.
const std::uint16_t* rows_in_place(const InputFile& file, const ImageLayout& layout,
                                   const StripTables& tables, ByteOrder byte_order) {
    const bool native =
        (byte_order == ByteOrder::little) == (std::endian::native == std::endian::little);
    if (layout.compression != Compression::none || layout.bits_per_sample != 16 || !native ||
        layout.fill_reversed || layout.predictor_mask != 0) {
        return nullptr;
    }
    const std::uint64_t row_bytes = std::uint64_t{layout.width} * 2;
    const std::uint64_t first = tables.offsets[0];
    if (first % alignof(std::uint16_t) != 0) return nullptr;
    for (std::uint32_t s = 0; s < tables.strips_per_image; ++s) {
        const std::uint64_t first_row = std::uint64_t{s} * tables.rows_per_strip;
        const std::uint64_t rows =
            std::min<std::uint64_t>(tables.rows_per_strip, layout.height - first_row);
        // Anything else is decoded strip by strip, which reports a strip
        // whose byte count does not match its rows.
        if (tables.offsets[s] != first + first_row * row_bytes ||
            tables.byte_counts[s] != rows * row_bytes) {
            return nullptr;
        }
    }
    if (!file.holds(first, layout.height * row_bytes)) return nullptr;
    return reinterpret_cast<const std::uint16_t*>(file.at(first));
}

GraySlice read_from(const InputFile& file, const std::string& file_name, ReaderBuffers& buffers,
                    ReadRequest request, bool may_borrow_file) {
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
    if (may_borrow_file && request.path == DecodePath::fast) {
        if (const std::uint16_t* rows =
                rows_in_place(file, layout, tables, directory.byte_order())) {
            slice.rows.borrow_rows(rows);
            return slice;
        }
    }
    assemble_rows(file, file_name, layout, tables, directory.byte_order(), slice.rows,
                  buffers.scratch, request.path);
    return slice;
}

// The whole file in memory; a file too large for that cannot be read as a
// slice either (its image alone would not fit).
std::optional<InputFile> load_file(const std::string& path, InputFile recycled) {
    try {
        return InputFile::load(path, std::move(recycled));
    } catch (const std::bad_alloc&) {
        fail(path, Failure::cell_allocation);
    }
}

}  // namespace

GraySlice read_gray_tiff(const std::string& path, ReadRequest request) {
    std::optional<InputFile> file = load_file(path, InputFile());
    if (!file) fail(path, Failure::file_not_found);
    ReaderBuffers buffers;
    // The file goes with this call: the rows must not be read from it.
    return read_from(*file, path, buffers, request, false);
}

GraySlice read_gray_tiff(const std::string& path, ReaderBuffers& buffers, ReadRequest request) {
    std::optional<InputFile> file = load_file(path, std::move(buffers.file));
    if (!file) fail(path, Failure::file_not_found);
    buffers.file = std::move(*file);
    return read_from(buffers.file, path, buffers, request, true);
}

GraySlice read_gray_tiff(const InputFile& file, const std::string& file_name, ReadRequest request) {
    ReaderBuffers buffers;
    return read_from(file, file_name, buffers, request, false);
}

GraySlice read_gray_tiff(const InputFile& file, const std::string& file_name,
                         ReaderBuffers& buffers, ReadRequest request) {
    return read_from(file, file_name, buffers, request, false);
}

}  // namespace slabtone
