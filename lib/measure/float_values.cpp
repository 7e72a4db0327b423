#include "measure/float_values.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "convert/run_parameters.hpp"

namespace slabtone {

namespace {

// Keys below this are negative NaNs, above the other one positive NaNs:
// the keys of -inf and +inf.
constexpr std::uint32_t kMinusInfinity = 0x007fffffu;
constexpr std::uint32_t kPlusInfinity = 0xff800000u;

}  // namespace

std::uint32_t lowest_key(std::uint32_t bin) noexcept {
    return std::max(bin << 16, kMinusInfinity);
}

std::uint32_t highest_key(std::uint32_t bin) noexcept {
    return std::min((bin << 16) | 0xffffu, kPlusInfinity);
}

void count_floats(FloatCounts& counts, const RowTable& rows, std::uint32_t width,
                  std::uint32_t height, bool inside_circle) {
    std::uint64_t* const bins = counts.bins.data();
    std::uint64_t nan = 0;
    for_each_float(rows, width, height, inside_circle, [&](float value) {
        if (value != value) {
            ++nan;
        } else {
            ++bins[float_order_key(value) >> 16];
        }
    });
    counts.nan += nan;
}

BinDetails::BinDetails(const std::vector<std::uint32_t>& bins)
    : bins_(bins), slot_(65536, -1), counts_(bins.size()) {
    for (std::size_t i = 0; i < bins_.size(); ++i) slot_[bins_[i]] = static_cast<std::int32_t>(i);
}

BinDetails::Counts& BinDetails::counts_of(std::size_t slot) {
    if (!counts_[slot]) counts_[slot] = std::make_unique<Counts>();
    return *counts_[slot];
}

void BinDetails::merge(const BinDetails& other) {
    for (std::size_t slot = 0; slot < other.counts_.size(); ++slot) {
        if (!other.counts_[slot]) continue;
        Counts& mine = counts_of(static_cast<std::size_t>(slot_[other.bins_[slot]]));
        for (std::size_t k = 0; k < mine.size(); ++k) mine[k] += (*other.counts_[slot])[k];
    }
}

FloatRanks::FloatRanks(const FloatCounts& counts, const Calibration& calibration)
    : counts_(counts), calibration_(calibration), ascending_(!(calibration.lac_scale < 0)) {
    samples_ = counts.nan;
    for (std::uint32_t bin = 0; bin < counts.bins.size(); ++bin) {
        const std::uint64_t n = counts.bins[bin];
        samples_ += n;
        // Every value of a bin is NaN under the calibration or none is: a
        // finite value divided and offset by numbers gives NaN only when
        // one of them is NaN, and the bins of the infinities hold one value.
        if (n == 0 || std::isnan(lac(float_of_order_key(lowest_key(bin))))) continue;
        measured_ += n;
        order_.push_back(bin);
    }
    if (!ascending_) std::reverse(order_.begin(), order_.end());
}

FloatRanks::Place FloatRanks::place_of(std::uint64_t rank) const {
    for (const std::uint32_t bin : order_) {
        const std::uint64_t n = counts_.bins[bin];
        if (rank < n) return {bin, rank};
        rank -= n;
    }
    return {order_.back(), counts_.bins[order_.back()] - 1};
}

double FloatRanks::lac_at(const Place& place, const BinDetails& details) const {
    const BinDetails::Counts* counts = details.counts(place.bin);
    const std::uint32_t base = place.bin << 16;
    std::uint64_t left = place.within;
    for (std::uint32_t i = 0; i < 65536; ++i) {
        const std::uint32_t low = ascending_ ? i : 65535 - i;
        const std::uint64_t n = counts != nullptr ? (*counts)[low] : 0;
        if (left < n) return lac(float_of_order_key(base | low));
        left -= n;
    }
    // The second pass saw fewer values than the first: the files changed.
    return lac(float_of_order_key(lowest_key(place.bin)));
}

namespace {

struct BinGreys {
    std::uint8_t first;  // of its lowest key
    std::uint8_t last;   // of its highest key
    bool wholly(std::uint8_t grey) const noexcept { return first == grey && last == grey; }
    bool mixed(std::uint8_t grey) const noexcept { return (first == grey) != (last == grey); }
};

BinGreys greys_of(std::uint32_t bin, const WindowCalibration& window) {
    return {quantise_value(static_cast<double>(float_of_order_key(lowest_key(bin))), window),
            quantise_value(static_cast<double>(float_of_order_key(highest_key(bin))), window)};
}

}  // namespace

std::vector<std::uint32_t> FloatRanks::threshold_bins(std::uint32_t low, std::uint32_t high,
                                                      std::size_t most) const {
    auto ends = [&](std::uint32_t bin) {
        const double a = lac(float_of_order_key(lowest_key(bin)));
        const double b = lac(float_of_order_key(highest_key(bin)));
        return std::pair{std::min(a, b), std::max(a, b)};
    };
    const auto [low_first, low_last] = ends(low);
    const auto [high_first, high_last] = ends(high);
    // Positions in order_ of the first bin not wholly 0 and the first that
    // holds a 255, for each extreme window.
    std::size_t first0 = order_.size();
    std::size_t last0 = 0;
    std::size_t first255 = order_.size();
    std::size_t last255 = 0;
    for (const double lac_min : {low_first, low_last}) {
        for (const double lac_max : {high_first, high_last}) {
            const WindowCalibration window{calibration_.lac_scale, calibration_.lac_offset, lac_min,
                                           window_scale_of(lac_min, lac_max)};
            std::size_t at0 = order_.size();
            std::size_t at255 = order_.size();
            for (std::size_t i = 0; i < order_.size(); ++i) {
                const BinGreys greys = greys_of(order_[i], window);
                if (at0 == order_.size() && !greys.wholly(0)) at0 = i;
                if (greys.first == 255 || greys.last == 255) {
                    at255 = i;
                    break;
                }
            }
            first0 = std::min(first0, at0);
            last0 = std::max(last0, at0);
            first255 = std::min(first255, at255);
            last255 = std::max(last255, at255);
        }
    }
    // A bin more on each side for the rounding between the extremes.
    std::vector<std::uint32_t> bins;
    auto take = [&](std::size_t from, std::size_t to) {
        from = from > 0 ? from - 1 : 0;
        to = std::min(to + 1, order_.size() - 1);
        for (std::size_t i = from; i <= to && bins.size() < most; ++i) bins.push_back(order_[i]);
    };
    if (!order_.empty()) {
        take(first0, std::max(first0, last0));
        take(first255, std::max(first255, last255));
    }
    std::sort(bins.begin(), bins.end());
    bins.erase(std::unique(bins.begin(), bins.end()), bins.end());
    return bins;
}

std::vector<std::uint32_t> FloatRanks::undecided_bins(const WindowCalibration& window) const {
    std::vector<std::uint32_t> bins;
    for (const std::uint32_t bin : order_) {
        const BinGreys greys = greys_of(bin, window);
        if (greys.mixed(0) || greys.mixed(255)) bins.push_back(bin);
    }
    std::sort(bins.begin(), bins.end());
    return bins;
}

Saturation FloatRanks::saturation(const WindowCalibration& window,
                                  const BinDetails& details) const {
    // NaN, and values whose LAC is NaN, become 0.
    Saturation result;
    result.to_black = samples_ - measured_;
    for (const std::uint32_t bin : order_) {
        const std::uint64_t n = counts_.bins[bin];
        const BinGreys greys = greys_of(bin, window);
        if (!greys.mixed(0) && !greys.mixed(255)) {
            if (greys.wholly(0)) result.to_black += n;
            if (greys.wholly(255)) result.to_white += n;
            continue;
        }
        const BinDetails::Counts* counts = details.counts(bin);
        if (counts == nullptr) continue;
        for (std::uint32_t key = lowest_key(bin); key <= highest_key(bin); ++key) {
            const std::uint64_t k = (*counts)[key & 0xffffu];
            if (k == 0) continue;
            const std::uint8_t grey =
                quantise_value(static_cast<double>(float_of_order_key(key)), window);
            if (grey == 0) result.to_black += k;
            if (grey == 255) result.to_white += k;
        }
    }
    return result;
}

}  // namespace slabtone
