// What slabtone-window's report, histogram and page are drawn from: the
// exact counts of a range's samples (per calibration, or by bins of float
// values), the distribution of their LAC values, the slices previewed and
// the planes across them. A library user who wants the proposed window
// alone calls measure() of slabtone.hpp.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "slabtone/slabtone.hpp"

namespace slabtone {

// How many samples of each value a range holds, per calibration (compared
// bit for bit): the exact distribution of its LAC values.
class SampleCounts {
  public:
    using Counts = std::array<std::uint64_t, 65536>;
    // The calibration's bits: (lac_scale as 64 bits, lac_offset as 32).
    using Key = std::pair<std::uint64_t, std::uint32_t>;

    static Key key_of(const Calibration& calibration) noexcept;
    static Calibration calibration_of_key(const Key& key) noexcept;

    // The counts of one calibration, made (all zero) when first asked for.
    Counts& counts_for(const Calibration& calibration);
    void merge(const SampleCounts& other);

    // What the bins count: unsigned samples (uint16), or signed 16-bit ones
    // (int16), each counted in the bin of its bits read as unsigned.
    SampleType sample_type() const noexcept { return type_; }
    void set_sample_type(SampleType type) noexcept { type_ = type; }
    // The sample value that bin `v` counts.
    double sample_of_bin(std::uint32_t v) const noexcept {
        return type_ == SampleType::int16
                   ? static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(v)))
                   : static_cast<double>(v);
    }

    // In the order of their keys.
    const std::map<Key, std::unique_ptr<Counts>>& all() const noexcept { return counts_; }

  private:
    std::map<Key, std::unique_ptr<Counts>> counts_;
    SampleType type_ = SampleType::uint16;
};

// How many float samples a range holds, coarsely: by the high 16 bits of
// each value's order key (float_order_key), NaN counted apart. The exact
// values come from a second look at the bins that matter (propose_window).
struct FloatCounts {
    std::array<std::uint64_t, 65536> bins{};
    std::uint64_t nan = 0;

    void merge(const FloatCounts& other) noexcept;
};

// A float's bits as an unsigned key that orders as the values do: -inf
// first, -0.0 just before +0.0, +inf last (NaN outside them).
inline std::uint32_t float_order_key(float value) noexcept {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x80000000u) != 0 ? ~bits : (bits | 0x80000000u);
}
inline float float_of_order_key(std::uint32_t key) noexcept {
    const std::uint32_t bits = (key & 0x80000000u) != 0 ? (key & 0x7fffffffu) : ~key;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The LAC values of the counts in increasing order.
class LacDistribution {
  public:
    explicit LacDistribution(const SampleCounts& counts);
    // Of (LAC value, count) pairs in any order; `samples` counts those
    // without a LAC value too.
    LacDistribution(std::vector<std::pair<double, std::uint64_t>> values, std::uint64_t samples);

    std::uint64_t samples() const noexcept { return samples_; }    // all, NaN included
    std::uint64_t measured() const noexcept { return measured_; }  // those with a LAC value
    bool empty() const noexcept { return values_.empty(); }

    // Nearest rank: for p in (0, 100], the smallest LAC value v such that at
    // least p% of the measured samples have LAC <= v; for p = 0, the
    // smallest value. Always a value that occurs. Not for an empty one.
    double percentile(double p) const;
    double minimum() const { return values_.front().first; }
    double maximum() const { return values_.back().first; }

    // (LAC value, count), in increasing LAC order, each value once.
    const std::vector<std::pair<double, std::uint64_t>>& values() const noexcept { return values_; }

  private:
    std::vector<std::pair<double, std::uint64_t>> values_;
    std::vector<std::uint64_t> cumulative_;
    std::uint64_t samples_ = 0;
    std::uint64_t measured_ = 0;
};

// How many samples the window [lac_min, lac_max] converts to 0 and to 255,
// exactly as slabtone converts them.
Saturation saturation(const SampleCounts& counts, double lac_min, double lac_max);

// A slice shown on the window page: every step-th sample of every step-th
// row, with the smallest step that keeps its longer side within
// kLongestSide, and the calibration its record gives it in the run.
struct PreviewSlice {
    static constexpr std::uint32_t kLongestSide = 1024;

    std::int64_t slice = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t step = 1;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    double lac_scale = 0;
    float lac_offset = 0;
    std::optional<std::string> description;
    std::vector<std::uint16_t> samples;  // columns * rows, row after row
    std::vector<float> values;           // the same, of a float slice (samples empty)
};

// The step of the samples shown: the longer side in at most kLongestSide.
std::uint32_t preview_step(std::uint32_t width, std::uint32_t height) noexcept;

// The narrowest and the lowest slice of the range: a crop rectangle must lie
// inside both.
struct SmallestSlice {
    std::uint32_t width = std::numeric_limits<std::uint32_t>::max();
    std::int64_t width_slice = 0;
    std::uint32_t height = std::numeric_limits<std::uint32_t>::max();
    std::int64_t height_slice = 0;

    void include(std::int64_t slice, std::uint32_t slice_width, std::uint32_t slice_height);
};

// At most this many slices in a plane: every m-th of the range, m as small
// as keeps them within it.
inline constexpr std::uint32_t kPlaneSlices = 1024;

// Where the two planes across the slices cut them, chosen before the
// measurement from the slices' headers.
struct PlaneGeometry {
    std::uint32_t x = 0;        // the column yz cuts
    std::uint32_t y = 0;        // the row xz cuts
    std::uint32_t step = 1;     // every step-th sample, as the previews
    std::uint32_t columns = 0;  // of xz
    std::uint32_t rows = 0;     // of yz
    std::int64_t first = 0;     // the first slice of the range
    std::int64_t every = 1;     // m
    std::size_t count = 0;      // slices in the planes
};

// Two planes across the slices: the row y of every m-th slice (xz) and its
// column x (yz), every step-th sample, each slice with its own calibration.
struct Planes {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t step = 1;
    std::uint32_t columns = 0;         // of xz: samples x = 0, step, ... of the smallest width
    std::uint32_t rows = 0;            // of yz: samples y = 0, step, ... of the smallest height
    std::vector<std::int64_t> slices;  // n1, n2, ...: every m-th of the range
    std::vector<double> lac_scale;     // of each slice, as the measurement calibrated it
    std::vector<float> lac_offset;
    std::vector<std::uint16_t> xz;  // a row of `columns` samples per slice
    std::vector<std::uint16_t> yz;  // `rows` rows of one sample per slice
    std::vector<float> xz_values;   // the same, of float slices (xz empty)
    std::vector<float> yz_values;
};

// The smallest width and height of the slices first..last in `folder`
// (named by `input_pattern` and read with the open reader when given), from
// their headers; nullopt when a slice is not a regular file (which may be
// read only once) or cannot be read as far as its size.
std::optional<std::pair<std::uint32_t, std::uint32_t>> smallest_size(
    std::int64_t first, std::int64_t last, const std::string& folder = {},
    const std::string& input_pattern = {});

// The planes for slices of at least `smallest` (width, height), cut at `at`
// (column, row) or else through the middle; nullopt when `at` lies outside.
std::optional<PlaneGeometry> plane_geometry(
    std::int64_t first, std::int64_t last, std::pair<std::uint32_t, std::uint32_t> smallest,
    std::optional<std::pair<std::uint32_t, std::uint32_t>> at,
    std::uint32_t most_slices = kPlaneSlices);

struct StackMeasurement {
    // Every slice's (unsigned slices of 1 to 16 bits are all uint16; a
    // slice of another type stops the measurement: "sample format differs
    // from the first slice.").
    SampleType sample_type = SampleType::uint16;
    SampleCounts counts;  // of integer slices
    // Of float slices, all calibrated alike (scale 1 and offset 0 unless
    // the request gives a calibration).
    std::unique_ptr<FloatCounts> floats;
    Calibration float_calibration{1, 0};
    // The samples of float slices that are not regular files (pipes, which
    // can be read only once), kept for the second look at their values.
    std::vector<std::pair<std::int64_t, std::vector<float>>> kept;
    std::vector<PreviewSlice> previews;  // in the order asked for
    SmallestSlice smallest;
    // When asked for and every plane slice gave its cut.
    std::optional<Planes> planes;
};

// What the page shows besides the distribution.
struct PageContents {
    std::vector<std::int64_t> show;       // slices to preview, in this order
    std::optional<PlaneGeometry> planes;  // planes to cut
};

// One pass over the slices of the range, read and calibrated exactly as
// slabtone reads them. `measured(slice)` is called on the calling thread
// after each slice, in order. Throws the SliceError of the first slice that
// cannot be read or has no calibration.
StackMeasurement measure_range(const MeasureRequest& request,
                               const std::function<void(std::int64_t slice)>& measured = {},
                               const PageContents& page = {});

// Throws SliceError("slabtone-window", "no sample with a LAC value in the
// range.") when the distribution is empty.
ProposedWindow propose_window(const LacDistribution& distribution, const SampleCounts& counts,
                              std::int32_t first, std::int32_t last, double low, double high);

// The window proposed for a measured range, every figure exact: for float
// slices the bins of the values asked for are counted value by value in a
// second pass over the range (the kept samples of slices that are not
// regular files are used instead of reading them again). The command holds
// the request's --input and --calibration. Throws SliceError as
// measure_range and as the other propose_window.
ProposedWindow propose_window(const MeasureRequest& request, const StackMeasurement& measured,
                              double low, double high);

// The distribution a histogram draws: exact for integer slices; for float
// slices one value per bin of FloatCounts, with the exact minimum and
// maximum of `window` at its ends.
LacDistribution drawn_distribution(const StackMeasurement& measured, const ProposedWindow& window);

}  // namespace slabtone
