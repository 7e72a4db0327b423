#include "slice_loop.hpp"

#include <new>

#include "byte_slice_writer.hpp"
#include "failure.hpp"
#include "gray_tiff.hpp"
#include "memory_budget.hpp"

namespace slabtone {

namespace {

std::string slice_name(const char* format, std::int64_t slice) {
    char buffer[32];
    int length = std::snprintf(buffer, sizeof buffer, format, static_cast<long long>(slice));
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::vector<std::uint8_t> allocate_byte_image(std::uint64_t size, const std::string& name) {
    if (!budgeted_bytes(size, 1)) fail(name, Failure::byte_image_allocation);
    try {
        return std::vector<std::uint8_t>(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        fail(name, Failure::byte_image_allocation);
    }
}

}  // namespace

std::string input_name(std::int64_t slice) {
    return slice_name("rec%04lld.tif", slice);
}

std::string output_name(std::int64_t slice) {
    return slice_name("ro%04lld.tif", slice);
}

ConvertedSlice convert_slice(std::int64_t slice, const RunParameters& run,
                             DescriptionRecord& record, QuantisationTable& table) {
    ConvertedSlice converted;
    converted.input_name = input_name(slice);
    GraySlice gray = read_gray_tiff(converted.input_name);

    // A slice without a text description leaves the record as it was.
    if (gray.description) parse_description(*gray.description, record);
    if (!record.calibrated()) fail(converted.input_name, Failure::calibration_not_found);

    std::optional<SampleView> view = crop_rows(gray.rows, run.crop);
    if (!view) fail(converted.input_name, Failure::crop_outside_image);
    converted.width = view->width;
    converted.height = view->height;

    converted.output_name = output_name(slice);
    converted.bytes =
        allocate_byte_image(std::uint64_t{view->width} * view->height, converted.output_name);
    const WindowCalibration calibration{record.lac_scale, record.lac_offset, run.lac_min,
                                        run.window_scale};
    quantise_slice(*view, calibration, converted.bytes, table);
    converted.description = format_description(record, run.window_scale, run.lac_min);
    return converted;
}

void run_slices(const RunParameters& run, std::FILE* out) {
    DescriptionRecord record;
    QuantisationTable table;
    // 64-bit so that a range ending at the largest slice number ends.
    for (std::int64_t slice = run.sta_ly; slice <= run.dst_ly; ++slice) {
        ConvertedSlice converted = convert_slice(slice, run, record, table);
        write_byte_slice(converted.output_name, converted.bytes, converted.width, converted.height,
                         converted.description);
        std::fprintf(out, "%s(16bit) -> %s(8bit)\r", converted.input_name.c_str(),
                     converted.output_name.c_str());
        // The line ends in a carriage return only: flush it so that a
        // terminal shows each slice as it is done.
        std::fflush(out);
    }
    std::fprintf(out, "\nfinish\n");
}

}  // namespace slabtone
