// The window slabtone-window proposes: two percentiles of the distribution,
// printed with "%f" as the command that applies them, and read back as
// slabtone reads that command.
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/failure.hpp"
#include "slabtone/slabtone.hpp"

namespace slabtone {

namespace {

std::string fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

}  // namespace

ProposedWindow propose_window(const LacDistribution& distribution, const SampleCounts& counts,
                              std::int32_t first, std::int32_t last, double low, double high) {
    if (distribution.empty()) fail("slabtone-window", Failure::no_lac_sample);
    ProposedWindow window;
    window.low_lac = distribution.percentile(low);
    window.high_lac = distribution.percentile(high);
    window.lac_min_text = fixed(window.low_lac);
    window.lac_max_text = fixed(window.high_lac);
    window.lac_min = double_from_text(window.lac_min_text.c_str());
    window.lac_max = double_from_text(window.lac_max_text.c_str());
    window.saturated = saturation(counts, window.lac_min, window.lac_max);
    window.command = "slabtone " + std::to_string(first) + " " + std::to_string(last) + " " +
                     window.lac_min_text + " " + window.lac_max_text;
    return window;
}

}  // namespace slabtone
