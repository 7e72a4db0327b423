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
    void merge(const SampleCounts& other);

    // (lac_scale, lac_offset) -> counts
    const std::map<std::pair<std::uint64_t, std::uint32_t>, std::unique_ptr<Counts>>& all() const {
        return counts_;
    }

  private:
    Counts& counts_for(double lac_scale, float lac_offset);
    std::map<std::pair<std::uint64_t, std::uint32_t>, std::unique_ptr<Counts>> counts_;
};

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
