// The exact order statistics of a float stack in bounded memory. The first
// pass counts every value in one of 65536 bins, by the high 16 bits of its
// order key; the values asked for (percentiles, the ends, where a window's
// grey 0 and 255 begin) then lie in known bins, and a second pass counts
// the values of just those bins, each bin's low 16 bits. LAC = value /
// scale + offset is monotonic in the value (falling when the scale is
// negative), so a rank among the values is a rank among the LAC values.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "convert/lac_window.hpp"
#include "measure/lac_distribution.hpp"
#include "slabtone/measurement.hpp"
#include "tiff/row_table.hpp"

namespace slabtone {

// Calls `each(value)` for every float of a width x height slice (inside its
// reconstruction circle only, when asked).
template <class Each>
void for_each_float(const RowTable& rows, std::uint32_t width, std::uint32_t height,
                    bool inside_circle, Each&& each);

// Counts the floats of a slice into `counts`.
void count_floats(FloatCounts& counts, const RowTable& rows, std::uint32_t width,
                  std::uint32_t height, bool inside_circle);

// The exact counts of the values of a few bins: per bin, one count per low
// 16 bits of the key.
class BinDetails {
  public:
    using Counts = std::array<std::uint64_t, 65536>;

    explicit BinDetails(const std::vector<std::uint32_t>& bins);

    bool covers(std::uint32_t bin) const noexcept { return slot_[bin] >= 0; }
    void add(float value) {
        const std::uint32_t key = float_order_key(value);
        const std::int32_t slot = slot_[key >> 16];
        if (slot >= 0) ++counts_of(static_cast<std::size_t>(slot))[key & 0xffffu];
    }
    void merge(const BinDetails& other);
    // Of a covered bin; null when no value of it has been seen or the bin
    // is not covered.
    const Counts* counts(std::uint32_t bin) const noexcept {
        return covers(bin) ? counts_[static_cast<std::size_t>(slot_[bin])].get() : nullptr;
    }
    const std::vector<std::uint32_t>& bins() const noexcept { return bins_; }

  private:
    Counts& counts_of(std::size_t slot);

    std::vector<std::uint32_t> bins_;
    std::vector<std::int32_t> slot_;  // per bin, its index in bins_ or -1
    std::vector<std::unique_ptr<Counts>> counts_;
};

// The values of a float stack in LAC order, from its first pass's counts.
class FloatRanks {
  public:
    FloatRanks(const FloatCounts& counts, const Calibration& calibration);

    std::uint64_t samples() const noexcept { return samples_; }
    std::uint64_t measured() const noexcept { return measured_; }

    // Where the value at `rank` (0-based, in increasing LAC) lies.
    struct Place {
        std::uint32_t bin = 0;
        std::uint64_t within = 0;  // its rank among the bin's measured values
    };
    Place place_of(std::uint64_t rank) const;
    // The LAC value at `place`, from the detail of its bin.
    double lac_at(const Place& place, const BinDetails& details) const;

    // The bins that may hold the first sample converted to 1 and the first
    // converted to 255 by any window whose ends lie in the LAC ranges of
    // the bins `low` and `high`; at most `most` bins.
    std::vector<std::uint32_t> threshold_bins(std::uint32_t low, std::uint32_t high,
                                              std::size_t most) const;
    // The bins that `saturation` needs in detail for `window`.
    std::vector<std::uint32_t> undecided_bins(const WindowCalibration& window) const;
    // How many samples `window` converts to 0 and to 255; `details` covers
    // every undecided bin.
    Saturation saturation(const WindowCalibration& window, const BinDetails& details) const;

  private:
    double lac(float value) const noexcept {
        return static_cast<double>(value) / calibration_.lac_scale +
               static_cast<double>(calibration_.lac_offset);
    }
    // The bins with measured values, in increasing LAC.
    std::vector<std::uint32_t> order_;
    const FloatCounts& counts_;
    Calibration calibration_;
    bool ascending_ = true;  // LAC grows with the value
    std::uint64_t samples_ = 0;
    std::uint64_t measured_ = 0;
};

// The lowest and highest key a bin holds that is not a NaN.
std::uint32_t lowest_key(std::uint32_t bin) noexcept;
std::uint32_t highest_key(std::uint32_t bin) noexcept;

template <class Each>
void for_each_float(const RowTable& rows, std::uint32_t width, std::uint32_t height,
                    bool inside_circle, Each&& each) {
    for (std::uint32_t r = 0; r < height; ++r) {
        const auto* row = reinterpret_cast<const unsigned char*>(rows.row(r));
        ColumnRange columns{0, std::int64_t{width} - 1};
        if (inside_circle) columns = circle_columns(width, height, r);
        for (std::int64_t c = columns.first; c <= columns.last; ++c) {
            float value;
            std::memcpy(&value, row + static_cast<std::size_t>(c) * sizeof value, sizeof value);
            each(value);
        }
    }
}

}  // namespace slabtone
