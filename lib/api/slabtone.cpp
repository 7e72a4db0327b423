// The public header's functions that pass straight through to a layer.
#include "slabtone/slabtone.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/failure.hpp"
#include "convert/description_record.hpp"
#include "convert/lac_window.hpp"
#include "convert/run_parameters.hpp"
#include "platform/atomic_file.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone {

std::string_view version() noexcept {
    return SLABTONE_VERSION;
}

void store_file(const std::string& path, std::string_view bytes) {
    const std::span<const std::uint8_t> data{reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size()};
    if (!store_file_atomically(path, data)) fail(path, Failure::cannot_write_file);
}

namespace {

template <class Sample>
void each_grey_value(std::span<const Sample> samples, const Calibration& calibration,
                     double lac_min, double lac_max, std::span<std::uint8_t> out) {
    const WindowCalibration window{calibration.lac_scale, calibration.lac_offset, lac_min,
                                   window_scale_of(lac_min, lac_max)};
    const std::size_t count = std::min(samples.size(), out.size());
    quantise_many(reinterpret_cast<const std::uint8_t*>(samples.data()), count, window, out.data(),
                  Sample{});
}

}  // namespace

Slice read_slice_file(const std::string& path) {
    GraySlice gray = read_gray_tiff(path);
    Slice slice;
    slice.width = static_cast<std::uint32_t>(gray.width);
    slice.height = static_cast<std::uint32_t>(gray.height);
    slice.bits_per_sample = static_cast<unsigned>(gray.bits_per_sample);
    slice.description = std::move(gray.description);
    try {
        slice.samples.resize(std::size_t{slice.width} * slice.height);
    } catch (const std::bad_alloc&) {
        fail(path, Failure::cell_allocation);
    }
    for (std::uint32_t r = 0; r < slice.height; ++r) {
        std::copy_n(gray.rows.row(r), slice.width,
                    slice.samples.data() + std::size_t{r} * slice.width);
    }
    return slice;
}

Slice read_slice_file(const std::string& path,
                      const std::function<void*(std::uint32_t width, std::uint32_t height,
                                                SampleType type, std::size_t room)>& place,
                      bool open_reader) {
    ReadRequest request;
    request.place = [&](std::uint32_t width, std::uint32_t height, SampleKind kind,
                        std::uint64_t room) -> std::uint8_t* {
        if (room > std::numeric_limits<std::size_t>::max()) return nullptr;
        return static_cast<std::uint8_t*>(
            place(width, height, sample_type_of(kind), static_cast<std::size_t>(room)));
    };
    ReaderBuffers buffers;
    GraySlice gray = open_reader ? read_open_tiff(path, path, buffers, std::move(request))
                                 : read_gray_tiff(path, buffers, std::move(request));
    Slice slice;
    slice.width = static_cast<std::uint32_t>(gray.width);
    slice.height = static_cast<std::uint32_t>(gray.height);
    slice.bits_per_sample = static_cast<unsigned>(gray.bits_per_sample);
    slice.sample_type = sample_type_of(gray.kind);
    slice.description = std::move(gray.description);
    return slice;
}

std::optional<Calibration> calibration_of(const std::optional<std::string>& description) {
    if (!description) return std::nullopt;
    DescriptionRecord record;
    apply_description(parse_fields(*description), record);
    if (!record.calibrated()) return std::nullopt;
    return Calibration{record.lac_scale, record.lac_offset};
}

void grey_values(std::span<const std::uint16_t> samples, const Calibration& calibration,
                 double lac_min, double lac_max, std::span<std::uint8_t> out) {
    const WindowCalibration window{calibration.lac_scale, calibration.lac_offset, lac_min,
                                   window_scale_of(lac_min, lac_max)};
    const std::size_t count = std::min(samples.size(), out.size());
    // In rows that a SampleView can hold; large ones go through the table,
    // which each thread keeps for its next call: a caller converting many
    // arrays under one calibration and window builds it once, and threads
    // with different windows never share one.
    thread_local QuantisationTable table;
    constexpr std::size_t kRow = std::size_t{1} << 30;
    for (std::size_t at = 0; at < count; at += kRow) {
        const auto n = static_cast<std::uint32_t>(std::min(kRow, count - at));
        quantise_slice(SampleView{samples.data() + at, n, n, 1}, window, out.subspan(at, n), table);
    }
}

void grey_values(std::span<const std::int16_t> samples, const Calibration& calibration,
                 double lac_min, double lac_max, std::span<std::uint8_t> out) {
    each_grey_value(samples, calibration, lac_min, lac_max, out);
}

void grey_values(std::span<const float> samples, const Calibration& calibration, double lac_min,
                 double lac_max, std::span<std::uint8_t> out) {
    each_grey_value(samples, calibration, lac_min, lac_max, out);
}

}  // namespace slabtone
