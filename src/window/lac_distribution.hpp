// The exact distribution of LAC values over a stack: per distinct
// calibration (fields 3 and 4 of the record) a count of every 16-bit sample
// value, merged in LAC order at the end.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "lac_window.hpp"
#include "row_table.hpp"

namespace slabtone {

// Sample counts per calibration, compared bit for bit.
class SampleCounts {
  public:
    using Counts = std::array<std::uint64_t, 65536>;

    void add(const RowTable& rows, double lac_scale, float lac_offset);
    // Only the samples inside the slice's reconstruction circle (see
    // circle_columns).
    void add_inside_circle(const RowTable& rows, double lac_scale, float lac_offset);
    void merge(const SampleCounts& other);

    // (lac_scale, lac_offset) -> counts
    const std::map<std::pair<std::uint64_t, std::uint32_t>, std::unique_ptr<Counts>>& all() const {
        return counts_;
    }

  private:
    Counts& counts_for(double lac_scale, float lac_offset);
    std::map<std::pair<std::uint64_t, std::uint32_t>, std::unique_ptr<Counts>> counts_;
};

// A reconstructed slice holds real data in a circle; its corners are zeros
// or noise. The circle of a width x height slice: the samples (x, y) with
// (x - (w-1)/2)^2 + (y - (h-1)/2)^2 <= (min(w, h)/2)^2, exactly. Row y's
// samples inside it are the columns [first, last]; empty when first > last.
struct ColumnRange {
    std::int64_t first = 0;
    std::int64_t last = -1;
};
ColumnRange circle_columns(std::uint32_t width, std::uint32_t height, std::uint32_t y);

// The LAC of a sample as the conversion computes it: sample / lac_scale +
// lac_offset, in double precision, in that order.
inline double sample_lac(std::uint16_t sample, double lac_scale, float lac_offset) {
    double t = static_cast<double>(sample) / lac_scale;
    return t + static_cast<double>(lac_offset);
}

class LacDistribution {
  public:
    explicit LacDistribution(const SampleCounts& counts);

    std::uint64_t samples() const { return samples_; }    // all, NaN included
    std::uint64_t measured() const { return measured_; }  // those with a LAC value
    bool empty() const { return values_.empty(); }

    // Nearest rank: for p in (0, 100], the smallest LAC value v such that at
    // least p% of the measured samples have LAC <= v; for p = 0, the
    // smallest value. Always a value that occurs.
    double percentile(double p) const;
    double minimum() const { return values_.front().first; }
    double maximum() const { return values_.back().first; }

    // (LAC value, count), in increasing LAC order, each value once.
    const std::vector<std::pair<double, std::uint64_t>>& values() const { return values_; }

  private:
    std::vector<std::pair<double, std::uint64_t>> values_;
    std::vector<std::uint64_t> cumulative_;
    std::uint64_t samples_ = 0;
    std::uint64_t measured_ = 0;
};

// How many samples the window [lac_min, lac_max] converts to 0 and to 255,
// exactly as slabtone converts them.
struct Saturation {
    std::uint64_t to_black = 0;
    std::uint64_t to_white = 0;
};
Saturation saturation(const SampleCounts& counts, double lac_min, double lac_max);

}  // namespace slabtone
