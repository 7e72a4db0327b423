// The LAC window: each sample's LAC value mapped linearly from
// [LACmin, LACmax] onto 0..255, truncating, saturating at both ends.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "convert/description_record.hpp"
#include "slabtone/slabtone.hpp"
#include "tiff/row_table.hpp"

namespace slabtone {

// The calibration of a slice and the window of the run.
struct WindowCalibration {
    double lac_scale = 0;
    float lac_offset = 0;
    double lac_min = 0;
    double window_scale = 0;
};

// Bit for bit: -0.0 and 0.0 give different results (v / -0.0 is -inf), and
// a NaN calibration equals itself.
bool same_calibration(const WindowCalibration& a, const WindowCalibration& b) noexcept;

// The product p = (v / lac_scale + lac_offset - LACmin) * window_scale, each
// operation in IEEE double precision in exactly this order (the last bit of
// p decides the byte when p is near a whole number): the sample's LAC as
// sample_lac computes it, less LACmin, times window_scale. Truncated toward
// zero and limited to 0..255; products outside the 32-bit range saturate by
// value, NaN gives 0.
inline std::uint8_t quantise_value(double value, const WindowCalibration& c) {
    double t = value / c.lac_scale;
    t = t + static_cast<double>(c.lac_offset);
    t = t - c.lac_min;
    const double p = t * c.window_scale;
    if (!(p < 2147483648.0)) return p != p ? 0 : 255;
    if (!(p > -2147483649.0)) return 0;
    const auto q = static_cast<std::int32_t>(p);
    if (q <= 0) return 0;
    if (q > 255) return 255;
    return static_cast<std::uint8_t>(q);
}

// `value` is any sample widened exactly to double: an unsigned or signed
// integer, or a float (NaN gives 0; infinities saturate).
inline std::uint8_t quantise_sample(std::uint16_t sample, const WindowCalibration& c) {
    return quantise_value(static_cast<double>(sample), c);
}

// A rectangle of samples inside a row table: the crop works on the table in
// place, without a second 16-bit image.
struct SampleView {
    const std::uint16_t* first = nullptr;
    std::size_t stride = 0;  // samples from one row to the next
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    const std::uint16_t* row(std::uint32_t r) const noexcept { return first + r * stride; }
};

// The whole table, or the crop rectangle when there is one; nullopt when the
// rectangle does not lie inside the table.
std::optional<SampleView> crop_rows(const RowTable& rows, const std::optional<Crop>& crop);

// Columns x .. x + width - 1 of rows y .. y + height - 1 of a slice.
struct Rectangle {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The whole slice, or the crop when there is one; nullopt when the crop
// does not lie inside a slice of that size.
std::optional<Rectangle> crop_rectangle(std::uint32_t width, std::uint32_t height,
                                        const std::optional<Crop>& crop);

// quantise_value over `count` samples at `in` (of `Sample`, in the
// machine's order) into `out`: the same operations in the same order, with
// the limits taken without branches so that the compiler converts several
// samples at once. A product below 1 (NaN included) truncates to 0 and one
// from 255 up saturates, as quantise_value's; between, truncation is
// within 1..254. Dividing by a scale of exactly 1 changes no value, and is
// left out.
// (Always inlined, so that each build of quantise_many has its own.)
template <class Sample>
#if defined(__GNUC__)
[[gnu::always_inline]]
#endif
inline void
quantise_samples(const std::uint8_t* in, std::size_t count, const WindowCalibration& c,
                 std::uint8_t* out) {
    const double scale = c.lac_scale;
    const double offset = static_cast<double>(c.lac_offset);
    const double lac_min = c.lac_min;
    const double window_scale = c.window_scale;
    auto convert = [&](double t) {
        t = t + offset;
        t = t - lac_min;
        const double p = t * window_scale;
        double limited = p >= 1.0 ? p : 0.0;
        limited = limited < 255.0 ? limited : 255.0;
        return static_cast<std::uint8_t>(static_cast<std::int32_t>(limited));
    };
    auto sample_at = [&](std::size_t i) {
        Sample sample;
        std::memcpy(&sample, in + i * sizeof(Sample), sizeof sample);
        return static_cast<double>(sample);
    };
    if (scale == 1.0) {
        for (std::size_t i = 0; i < count; ++i) out[i] = convert(sample_at(i));
    } else {
        for (std::size_t i = 0; i < count; ++i) out[i] = convert(sample_at(i) / scale);
    }
}

// quantise_samples of floats and of signed 16-bit samples, built for the
// widest vectors the processor has where the system can choose at run time.
void quantise_many(const std::uint8_t* in, std::size_t count, const WindowCalibration& c,
                   std::uint8_t* out, float);
void quantise_many(const std::uint8_t* in, std::size_t count, const WindowCalibration& c,
                   std::uint8_t* out, std::int16_t);

// The bytes of the rectangle of a slice whose rows hold signed 16-bit
// samples (`Sample` std::int16_t) or floats, each sample converted on its
// own: the arithmetic of quantise_sample on the sample's own value.
template <class Sample>
void quantise_rows(const RowTable& rows, const Rectangle& rectangle,
                   const WindowCalibration& calibration, std::span<std::uint8_t> out) {
    std::uint8_t* target = out.data();
    for (std::uint32_t r = 0; r < rectangle.height; ++r) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(rows.row(rectangle.y + r)) +
                          std::size_t{rectangle.x} * sizeof(Sample);
        quantise_many(row, rectangle.width, calibration, target, Sample{});
        target += rectangle.width;
    }
}

// Every byte of `out` (view.width * view.height, row after row). Large
// images go through a 65536-entry table of the exact per-sample result,
// which `cache` keeps while the calibration stays the same.
class QuantisationTable;
void quantise_slice(const SampleView& view, const WindowCalibration& calibration,
                    std::span<std::uint8_t> out, QuantisationTable& cache);

class QuantisationTable {
  public:
    // The byte of every sample value, or null when the memory for the table
    // cannot be had (each sample is then computed on its own).
    const std::uint8_t* for_calibration(const WindowCalibration& calibration);

  private:
    std::optional<WindowCalibration> built_for_;
    std::unique_ptr<std::uint8_t[]> bytes_;
};

}  // namespace slabtone
