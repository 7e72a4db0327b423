#include "convert/slice_conversion.hpp"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>

#include "common/failure.hpp"
#include "convert/byte_slice_writer.hpp"

namespace slabtone {

namespace {

std::string slice_name(const char* format, std::int64_t slice) {
    char buffer[32];
    int length = std::snprintf(buffer, sizeof buffer, format, static_cast<long long>(slice));
    return std::string(buffer, static_cast<std::size_t>(length));
}

void allocate_byte_image(ByteBuffer& bytes, std::uint64_t size, const std::string& name) {
    bytes.clear();
    if (size > std::numeric_limits<std::size_t>::max() ||
        !bytes.resize(static_cast<std::size_t>(size))) {
        fail_for_memory(name, Failure::byte_image_allocation);
    }
}

}  // namespace

std::string input_name(std::int64_t slice) {
    return slice_name("rec%04lld.tif", slice);
}

std::string input_name(std::int64_t slice, const std::string& pattern) {
    return StackFolder({}, slice_names_of(pattern, {})).input_name(slice);
}

std::string output_name(std::int64_t slice) {
    return slice_name("ro%04lld.tif", slice);
}

namespace {

// `read(name)` reads the slice's file, naming it `name` in messages.
template <class Read>
ReadSlice read_slice_with(const StackFolder& folder, std::int64_t number, Read&& read) {
    ReadSlice slice;
    slice.number = number;
    slice.input_name = folder.input_name(number);
    slice.output_name = folder.output_name(number);
    try {
        slice.gray = read(slice.input_name);
        // A slice without a text description leaves the record as it was.
        if (slice.gray.description) slice.description = parse_fields(*slice.gray.description);
    } catch (const std::bad_alloc&) {
        fail_for_memory(slice.input_name, Failure::cell_allocation);
    }
    return slice;
}

}  // namespace

ReadSlice read_slice(const StackFolder& folder, std::int64_t number, ReaderBuffers& buffers) {
    return read_slice_with(folder, number, [&](const std::string& name) {
        if (folder.names().open_reader) return read_open_tiff(folder.path_of(name), name, buffers);
        return read_gray_tiff(folder.path_of(name), name, buffers);
    });
}

ReadSlice read_slice(std::int64_t number, const InputFile& file) {
    return read_slice_with(StackFolder(), number,
                           [&](const std::string& name) { return read_gray_tiff(file, name); });
}

ConvertedSlice convert_single_slice(const InputFile& file, const RunParameters& run) {
    const ReadSlice slice = read_slice(1, file);
    DescriptionRecord record;
    apply_description(slice.description, record);
    ConversionBuffers buffers;
    ConvertedSlice converted = finish_slice(slice, record, run, buffers);
    if (converted.file.size() == 0)
        fail_for_memory(converted.output_name, Failure::cannot_write_file);
    return converted;
}

Calibration samples_calibration(const ReadSlice& slice, const DescriptionRecord& record,
                                const std::optional<Calibration>& given) {
    if (given) return *given;
    if (slice.gray.kind == SampleKind::floating) return Calibration{1, 0};
    if (!record.calibrated()) fail(slice.input_name, Failure::calibration_not_found);
    return Calibration{record.lac_scale, record.lac_offset};
}

ConvertedSlice finish_slice(const ReadSlice& slice, const DescriptionRecord& record,
                            const RunParameters& run, ConversionBuffers& buffers) {
    const SampleKind kind = slice.gray.kind;
    const Calibration samples = samples_calibration(slice, record, run.calibration);
    const std::optional<Rectangle> rectangle =
        crop_rectangle(static_cast<std::uint32_t>(slice.gray.width),
                       static_cast<std::uint32_t>(slice.gray.height), run.crop);
    if (!rectangle) fail(slice.input_name, Failure::crop_outside_image);

    ConvertedSlice converted;
    converted.input_name = slice.input_name;
    converted.output_name = slice.output_name;
    converted.kind = kind;
    converted.width = rectangle->width;
    converted.height = rectangle->height;
    const WindowCalibration calibration{samples.lac_scale, samples.lac_offset, run.lac_min,
                                        run.window_scale};
    const std::optional<SampleView> view =
        kind == SampleKind::unsigned_int ? crop_rows(slice.gray.rows, run.crop) : std::nullopt;
    const auto quantise = [&](std::span<std::uint8_t> out) {
        switch (kind) {
            case SampleKind::unsigned_int:
                quantise_slice(*view, calibration, out, buffers.table);
                break;
            case SampleKind::signed_int:
                quantise_rows<std::int16_t>(slice.gray.rows, *rectangle, calibration, out);
                break;
            case SampleKind::floating:
                quantise_rows<float>(slice.gray.rows, *rectangle, calibration, out);
                break;
        }
    };
    try {
        converted.description = format_description(record, run.window_scale, run.lac_min);
    } catch (const std::bad_alloc&) {
        fail_for_memory(converted.output_name, Failure::byte_image_allocation);
    }
    // The samples quantised straight into the strips of the file laid out
    // in memory, stored later with one write.
    std::optional<ByteBuffer> file;
    try {
        file = encode_filled_slice(
            converted.output_name, converted.width, converted.height, converted.description,
            std::move(buffers.file), [&](std::uint8_t* strips) {
                quantise({strips, std::size_t{converted.width} * converted.height});
            });
    } catch (const std::exception&) {
        // Laid out in memory or in the file, libtiff takes the same steps:
        // what it refuses here, storing reports.
    }
    if (file) {
        converted.file = std::move(*file);
        return converted;
    }
    // Without the memory for the file: the 8-bit image alone, which libtiff
    // lays out straight into the file when it is stored.
    try {
        allocate_byte_image(buffers.bytes, std::uint64_t{converted.width} * converted.height,
                            converted.output_name);
        quantise(buffers.bytes.bytes());
    } catch (const std::bad_alloc&) {
        fail_for_memory(converted.output_name, Failure::byte_image_allocation);
    }
    converted.bytes = std::move(buffers.bytes);
    return converted;
}

void store_converted(const StackFolder& folder, const ConvertedSlice& converted) {
    try {
        if (converted.file.size() > 0) {
            store_byte_slice(folder, converted.output_name, converted.file.bytes());
        } else {
            write_byte_slice(folder, converted.output_name, converted.bytes.bytes(),
                             converted.width, converted.height, converted.description);
        }
    } catch (const std::bad_alloc&) {
        fail_for_memory(converted.output_name, Failure::cannot_write_file);
    }
}

}  // namespace slabtone
