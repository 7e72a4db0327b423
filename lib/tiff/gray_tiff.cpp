#include "tiff/gray_tiff.hpp"

#include <algorithm>
#include <cstdint>
#include <new>

#include "common/failure.hpp"
#include "common/saturating.hpp"
#include "tiff/image_attributes.hpp"
#include "tiff/open_rows.hpp"
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

// The rows of the slice: in the caller's memory when it places them, else
// in the pool. A float takes the room of two 16-bit samples.
RowTable rows_for(const ImageLayout& layout, RowTable recycled, const ReadRequest& request,
                  const std::string& file_name) {
    const std::uint32_t places = layout.width * (layout.kind == SampleKind::floating ? 2 : 1);
    if (!request.place) return allocate_rows(places, layout.height, std::move(recycled), file_name);
    std::uint8_t* placed = request.place(layout.width, layout.height, layout.kind,
                                         RowTable::placed_room(places, layout.height));
    if (placed == nullptr) fail_for_memory(file_name, Failure::cell_allocation);
    return RowTable::placed(placed, places, layout.height);
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

    slice.rows = rows_for(layout, std::move(buffers.rows), request, file_name);
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
    const std::uint64_t sample_bytes = kind == SampleKind::floating ? 4 : 2;
    std::uint64_t need = saturating_add(saturating_mul(samples, sample_bytes),
                                        saturating_mul(height, sizeof(void*)));
    // The encoded strip, at most.
    if (compression != Compression::none) need = saturating_add(need, file_size);
    if (bits_per_sample != 16) {
        need =
            saturating_add(need, saturating_add(saturating_mul(samples, bits_per_sample), 7) / 8);
    }
    return need;
}

namespace {

// What a slice will take to read, from its attributes as `check` reads them.
std::optional<SliceShape> probe_with(const std::string& path, TiffFormats formats,
                                     ImageLayout (*check)(TiffDirectory&, const std::string&)) {
    try {
        std::optional<InputFile> file = InputFile::open(path, path);
        if (!file) return std::nullopt;
        TiffDirectory directory(*file, path, formats);
        const ImageLayout layout = check(directory, path);
        SliceShape shape;
        shape.width = layout.width;
        shape.height = layout.height;
        shape.bits_per_sample = layout.bits_per_sample;
        shape.kind = layout.kind;
        shape.compression = layout.compression;
        shape.file_size = file->holds(0, 0) ? file->size() : 0;
        return shape;
    } catch (const SliceError&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<SliceShape> probe_gray_tiff(const std::string& path) {
    return probe_with(path, TiffFormats::classic, check_image_attributes);
}

GraySlice read_gray_tiff(const std::string& path, ReadRequest request) {
    ReaderBuffers buffers;
    return read_gray_tiff(path, buffers, request);
}

namespace {

// A file the strict reader reads as it is: the open reader reads it the
// same way, byte for byte and message for message.
bool strict_reads(const TiffDirectory& directory, const ImageLayout& layout) {
    return !directory.big() && layout.kind == SampleKind::unsigned_int &&
           layout.compression != Compression::deflate;
}

}  // namespace

GraySlice read_open_tiff(const InputFile& file, const std::string& file_name,
                         ReaderBuffers& buffers, ReadRequest request) {
    TiffDirectory directory(file, file_name, TiffFormats::classic_or_big);
    const ImageLayout layout = check_open_image_attributes(directory, file_name);
    if (strict_reads(directory, layout)) {
        return read_gray_tiff(file, file_name, buffers, std::move(request));
    }

    GraySlice slice;
    slice.width = static_cast<std::int32_t>(layout.width);
    slice.height = static_cast<std::int32_t>(layout.height);
    slice.bits_per_sample = static_cast<std::int32_t>(layout.bits_per_sample);
    slice.kind = layout.kind;
    slice.description = read_description(directory, file_name);
    slice.rows = rows_for(layout, std::move(buffers.rows), request, file_name);
    const WideStripTables tables = read_wide_strip_tables(directory, layout.height, file_name);
    assemble_open_rows(file, file_name, layout, tables, directory.byte_order(), slice.rows,
                       buffers.scratch);
    return slice;
}

GraySlice read_open_tiff(const std::string& path, const std::string& file_name,
                         ReaderBuffers& buffers, ReadRequest request) {
    std::optional<InputFile> file = InputFile::open(path, file_name);
    if (!file) fail(file_name, Failure::file_not_found);
    return read_open_tiff(*file, file_name, buffers, std::move(request));
}

std::optional<SliceShape> probe_open_tiff(const std::string& path) {
    return probe_with(path, TiffFormats::classic_or_big, check_open_image_attributes);
}

}  // namespace slabtone
