#include "harnesses.hpp"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "failure.hpp"
#include "gray_tiff.hpp"
#include "memory_pool.hpp"
#include "slice_conversion.hpp"

namespace slabtone::fuzz {

namespace {

InputFile file_of(const std::uint8_t* data, std::size_t size) {
    return InputFile::from_bytes(std::vector<std::uint8_t>(data, data + size));
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
        outcome.failure = error.failure();
    }
    return outcome;
}

void read_any_file(const std::uint8_t* data, std::size_t size) {
    set_memory_budget(kFuzzMemoryBudget);
    try {
        GraySlice slice = read_gray_tiff(file_of(data, size), "fuzz.tif");
        if (slice.rows.height() != std::uint32_t(slice.height)) std::abort();
    } catch (const SliceError& error) {
        // Every message is one of the table's.
        if (error.message().empty()) std::abort();
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
        if (options[0] & 1) run.crop = CropRectangle{number(2), number(4), number(6), number(8)};
        run.lac_min = (options[10] - 128) / 16.0;
        run.lac_max = run.lac_min + (options[11] - 64) / 8.0;
    }
    run.window_scale = 255.0 / (run.lac_max - run.lac_min);
    try {
        ConvertedSlice converted = convert_single_slice(file_of(data, size), run);
        if (converted.file.size() < 8) std::abort();
    } catch (const SliceError& error) {
        if (error.message().empty()) std::abort();
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
