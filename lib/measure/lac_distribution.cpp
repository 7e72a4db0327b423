#include "measure/lac_distribution.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "convert/lac_window.hpp"
#include "convert/run_parameters.hpp"

namespace slabtone {

SampleCounts::Key SampleCounts::key_of(const Calibration& calibration) noexcept {
    return {std::bit_cast<std::uint64_t>(calibration.lac_scale),
            std::bit_cast<std::uint32_t>(calibration.lac_offset)};
}

Calibration SampleCounts::calibration_of_key(const Key& key) noexcept {
    return {std::bit_cast<double>(key.first), std::bit_cast<float>(key.second)};
}

SampleCounts::Counts& SampleCounts::counts_for(const Calibration& calibration) {
    auto& slot = counts_[key_of(calibration)];
    if (!slot) slot = std::make_unique<Counts>();
    return *slot;
}

void SampleCounts::merge(const SampleCounts& other) {
    if (counts_.empty()) type_ = other.type_;
    for (const auto& [key, counts] : other.counts_) {
        Counts& mine = counts_for(calibration_of_key(key));
        for (std::size_t v = 0; v < mine.size(); ++v) mine[v] += (*counts)[v];
    }
}

void FloatCounts::merge(const FloatCounts& other) noexcept {
    for (std::size_t b = 0; b < bins.size(); ++b) bins[b] += other.bins[b];
    nan += other.nan;
}

ColumnRange circle_columns(std::uint32_t width, std::uint32_t height, std::uint32_t y) {
    // Times two, in integers: (2x - (w-1))^2 + (2y - (h-1))^2 <= min(w, h)^2.
    // Each term is below 2^62 for sizes below 2^31, so the sum fits.
    const std::int64_t w = width;
    const std::int64_t h = height;
    const std::int64_t m = std::min(w, h);
    const std::int64_t dy = 2 * std::int64_t{y} - (h - 1);
    const std::int64_t room = m * m - dy * dy;
    if (room < 0) return {};
    // The largest |dx| with dx^2 <= room.
    auto s = static_cast<std::int64_t>(std::sqrt(static_cast<double>(room)));
    while (s * s > room) --s;
    while ((s + 1) * (s + 1) <= room) ++s;
    // 2x - (w-1) in [-s, s]: x from ceil((w-1-s)/2) to floor((w-1+s)/2).
    auto floor_half = [](std::int64_t a) { return a >= 0 ? a / 2 : -((-a + 1) / 2); };
    ColumnRange range;
    range.first = std::max<std::int64_t>(0, floor_half(w - 1 - s + 1));
    range.last = std::min<std::int64_t>(w - 1, floor_half(w - 1 + s));
    return range;
}

void count_samples(SampleCounts& counts, const RowTable& rows, const Calibration& calibration,
                   bool inside_circle) {
    std::uint64_t* const bins = counts.counts_for(calibration).data();
    for (std::uint32_t r = 0; r < rows.height(); ++r) {
        const std::uint16_t* row = rows.row(r);
        ColumnRange columns{0, std::int64_t{rows.width()} - 1};
        if (inside_circle) columns = circle_columns(rows.width(), rows.height(), r);
        for (std::int64_t c = columns.first; c <= columns.last; ++c) ++bins[row[c]];
    }
}

namespace {

std::vector<std::pair<double, std::uint64_t>> values_of(const SampleCounts& counts,
                                                        std::uint64_t& samples) {
    std::vector<std::pair<double, std::uint64_t>> values;
    for (const auto& [key, bins] : counts.all()) {
        const Calibration calibration = SampleCounts::calibration_of_key(key);
        for (std::uint32_t v = 0; v < bins->size(); ++v) {
            const std::uint64_t n = (*bins)[v];
            if (n == 0) continue;
            samples += n;
            values.emplace_back(
                counts.sample_of_bin(v) / calibration.lac_scale + double{calibration.lac_offset},
                n);
        }
    }
    return values;
}

}  // namespace

LacDistribution::LacDistribution(const SampleCounts& counts) {
    std::uint64_t samples = 0;
    auto values = values_of(counts, samples);
    *this = LacDistribution(std::move(values), samples);
}

LacDistribution::LacDistribution(std::vector<std::pair<double, std::uint64_t>> values,
                                 std::uint64_t samples)
    : samples_(samples) {
    std::erase_if(values, [](const auto& value) { return std::isnan(value.first); });
    std::sort(values.begin(), values.end());
    // One entry per value (several calibrations may give the same LAC).
    for (const auto& value : values) {
        measured_ += value.second;
        if (!values_.empty() && values_.back().first == value.first) {
            values_.back().second += value.second;
        } else {
            values_.push_back(value);
        }
    }
    std::uint64_t running = 0;
    for (const auto& value : values_) cumulative_.push_back(running += value.second);
}

double LacDistribution::percentile(double p) const {
    if (p <= 0) return values_.front().first;
    // The first value whose cumulative count reaches p% of the samples,
    // compared without rounding: cumulative * 100 >= p * measured.
    const long double target = static_cast<long double>(p) * measured_;
    auto at = std::lower_bound(cumulative_.begin(), cumulative_.end(), target,
                               [](std::uint64_t c, long double t) { return c * 100.0L < t; });
    if (at == cumulative_.end()) --at;
    return values_[static_cast<std::size_t>(at - cumulative_.begin())].first;
}

Saturation saturation(const SampleCounts& counts, double lac_min, double lac_max) {
    Saturation result;
    for (const auto& [key, bins] : counts.all()) {
        const Calibration c = SampleCounts::calibration_of_key(key);
        const WindowCalibration window{c.lac_scale, c.lac_offset, lac_min,
                                       window_scale_of(lac_min, lac_max)};
        for (std::uint32_t v = 0; v < bins->size(); ++v) {
            const std::uint64_t n = (*bins)[v];
            if (n == 0) continue;
            const std::uint8_t byte = quantise_value(counts.sample_of_bin(v), window);
            if (byte == 0) result.to_black += n;
            if (byte == 255) result.to_white += n;
        }
    }
    return result;
}

}  // namespace slabtone
