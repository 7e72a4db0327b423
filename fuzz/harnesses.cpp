#include "fuzz/harnesses.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.hpp"
#include "common/memory_pool.hpp"
#include "convert/lac_window.hpp"
#include "convert/slice_conversion.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone::fuzz {

namespace {

InputFile file_of(const std::uint8_t* data, std::size_t size) {
    return InputFile::from_bytes(std::vector<std::uint8_t>(data, data + size));
}

// Whether the failure names one of `names` and its line is "<name> : <a
// message of the table>".
bool names_one_of(const SliceError& error, std::initializer_list<std::string_view> names) {
    const std::optional<Failure> failure = failure_of(error);
    if (!failure) return false;
    bool named = false;
    for (std::string_view name : names) named = named || error.file_name() == name;
    return named && std::string_view(error.what()) ==
                        error.file_name() + " : " + std::string(failure_text(*failure));
}

}  // namespace

DecodeOutcome decode_outcome(const InputFile& file, DecodePath path) {
    DecodeOutcome outcome;
    try {
        ReadRequest request;
        request.path = path;
        GraySlice slice = read_gray_tiff(file, "fuzz.tif", request);
        outcome.description = slice.description;
        for (std::uint32_t r = 0; r < slice.rows.height(); ++r) {
            outcome.samples.insert(outcome.samples.end(), slice.rows.row(r),
                                   slice.rows.row(r) + slice.rows.width());
        }
    } catch (const SliceError& error) {
        outcome.failure = failure_of(error);
    }
    return outcome;
}

void read_any_file(const std::uint8_t* data, std::size_t size) {
    set_memory_budget(kFuzzMemoryBudget);
    try {
        GraySlice slice = read_gray_tiff(file_of(data, size), "fuzz.tif");
        if (slice.rows.height() != std::uint32_t(slice.height)) std::abort();
    } catch (const SliceError& error) {
        // The reader names the file it read, with a message of the table.
        if (!names_one_of(error, {"fuzz.tif"})) std::abort();
    }
}

void read_any_open_file(const std::uint8_t* data, std::size_t size) {
    set_memory_budget(kFuzzMemoryBudget);
    try {
        ReaderBuffers buffers;
        GraySlice slice = read_open_tiff(file_of(data, size), "fuzz.tif", buffers);
        if (slice.rows.height() != std::uint32_t(slice.height)) std::abort();
        const Rectangle whole{0, 0, std::uint32_t(slice.width), std::uint32_t(slice.height)};
        const WindowCalibration window{1, 0, -1, 100};
        std::vector<std::uint8_t> bytes(std::size_t{whole.width} * whole.height);
        if (slice.kind == SampleKind::floating) {
            quantise_rows<float>(slice.rows, whole, window, bytes);
        } else {
            quantise_rows<std::int16_t>(slice.rows, whole, window, bytes);
        }
    } catch (const SliceError& error) {
        if (!names_one_of(error, {"fuzz.tif"})) std::abort();
    }
}

void convert_any_file(const std::uint8_t* data, std::size_t size) {
    set_memory_budget(kFuzzMemoryBudget);
    RunParameters run;
    run.lac_min = 0;
    run.lac_max = 4;
    if (size > 12) {
        const std::uint8_t* options = data + size - 12;
        size -= 12;
        auto number = [&](int at) {
            return std::int32_t(options[at] | (options[at + 1] << 8)) - 256;
        };
        if (options[0] & 1) run.crop = Crop{number(2), number(4), number(6), number(8)};
        run.lac_min = (options[10] - 128) / 16.0;
        run.lac_max = run.lac_min + (options[11] - 64) / 8.0;
    }
    run.window_scale = 255.0 / (run.lac_max - run.lac_min);
    try {
        ConvertedSlice converted = convert_single_slice(file_of(data, size), run);
        if (converted.file.size() < 8) std::abort();
    } catch (const SliceError& error) {
        // The slice's failures name the input, those of the 8-bit image and
        // file the output.
        if (!names_one_of(error, {"rec0001.tif", "ro0001.tif"})) std::abort();
    }
}

void compare_decode_paths(const std::uint8_t* data, std::size_t size) {
    set_memory_budget(kFuzzMemoryBudget);
    const InputFile file = file_of(data, size);
    const DecodeOutcome fast = decode_outcome(file, DecodePath::fast);
    const DecodeOutcome exact = decode_outcome(file, DecodePath::exact);
    if (!(fast == exact)) {
        auto text = [](const DecodeOutcome& o) {
            return o.failure ? failure_text(*o.failure).data() : "accepted";
        };
        std::fprintf(stderr, "fast and exact paths differ: %s / %s\n", text(fast), text(exact));
        std::abort();
    }
}

}  // namespace slabtone::fuzz
