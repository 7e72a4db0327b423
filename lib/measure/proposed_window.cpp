// The window slabtone-window proposes: two percentiles of the distribution,
// printed as the command that applies them ("%f", or the shortest form that
// reads back as the same double for stacks named by a pattern or
// calibrated on the command line), and read back as slabtone reads that
// command.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/failure.hpp"
#include "convert/run_parameters.hpp"
#include "measure/float_values.hpp"
#include "measure/stack_details.hpp"
#include "slabtone/measurement.hpp"

namespace slabtone {

namespace {

std::string fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

// The text of a value as the command prints it.
std::string command_number(double value, bool shortest) {
    return shortest ? shortest_text(value) : fixed(value);
}

// A word as a POSIX shell and PowerShell both read it: bare when it holds
// only characters neither treats specially, else in single quotes.
std::string shell_word(std::string_view word) {
    constexpr std::string_view kPlain =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789%_+,./:=@-";
    if (!word.empty() && word.find_first_not_of(kPlain) == std::string_view::npos) {
        return std::string(word);
    }
    std::string quoted = "'";
    for (const char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string options_of(const MeasureRequest& request) {
    std::string options;
    if (!request.input_pattern.empty()) options = "--input " + shell_word(request.input_pattern);
    if (request.calibration) {
        if (!options.empty()) options += ' ';
        options += "--calibration " + shortest_text(request.calibration->lac_scale) + " " +
                   shortest_text(request.calibration->lac_offset);
    }
    return options;
}

// Fills in the texts, the window read back and the command.
void settle_texts(ProposedWindow& window, const MeasureRequest& request) {
    window.lac_min_text = command_number(window.low_lac, window.shortest);
    window.lac_max_text = command_number(window.high_lac, window.shortest);
    window.lac_min = double_from_text(window.lac_min_text.c_str());
    window.lac_max = double_from_text(window.lac_max_text.c_str());
    window.options = options_of(request);
    window.command = "slabtone " + (window.options.empty() ? "" : window.options + " ") +
                     std::to_string(request.first) + " " + std::to_string(request.last) + " " +
                     window.lac_min_text + " " + window.lac_max_text;
}

// The 0-based rank of the percentile p among `measured` values: nearest
// rank, the smallest r with (r + 1) * 100 >= p * measured, compared without
// rounding.
std::uint64_t rank_of(double p, std::uint64_t measured) {
    if (!(p > 0)) return 0;
    const long double target = static_cast<long double>(p) * measured;
    std::uint64_t lo = 1;
    std::uint64_t hi = measured;
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (mid * 100.0L < target) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo - 1;
}

ProposedWindow propose_for_floats(const MeasureRequest& request, const StackMeasurement& measured,
                                  double low, double high) {
    const FloatRanks ranks(*measured.floats, measured.float_calibration);
    if (ranks.measured() == 0) fail("slabtone-window", Failure::no_lac_sample);
    const std::uint64_t last = ranks.measured() - 1;
    const FloatRanks::Place places[] = {
        ranks.place_of(0), ranks.place_of(rank_of(low, ranks.measured())),
        ranks.place_of(rank_of(50, ranks.measured())),
        ranks.place_of(rank_of(high, ranks.measured())), ranks.place_of(last)};
    // The bins of the five values, and those where the window's grey 0 and
    // 255 may begin: at most 64 of those (32 MiB of counts), which is
    // plenty unless the values crowd into very few bins.
    std::vector<std::uint32_t> bins = ranks.threshold_bins(places[1].bin, places[3].bin, 64);
    for (const auto& place : places) bins.push_back(place.bin);
    std::sort(bins.begin(), bins.end());
    bins.erase(std::unique(bins.begin(), bins.end()), bins.end());
    BinDetails details = count_bin_details(request, measured, bins);

    ProposedWindow window;
    window.shortest = true;
    window.samples = ranks.samples();
    window.measured = ranks.measured();
    window.minimum = ranks.lac_at(places[0], details);
    window.low_lac = ranks.lac_at(places[1], details);
    window.median = ranks.lac_at(places[2], details);
    window.high_lac = ranks.lac_at(places[3], details);
    window.maximum = ranks.lac_at(places[4], details);
    settle_texts(window, request);
    const Calibration& c = measured.float_calibration;
    const WindowCalibration calibration{c.lac_scale, c.lac_offset, window.lac_min,
                                        window_scale_of(window.lac_min, window.lac_max)};
    // Should the window's thresholds lie outside the bins foreseen, a third
    // pass counts the bins they lie in.
    const std::vector<std::uint32_t> undecided = ranks.undecided_bins(calibration);
    if (std::all_of(undecided.begin(), undecided.end(),
                    [&](std::uint32_t bin) { return details.covers(bin); })) {
        window.saturated = ranks.saturation(calibration, details);
    } else {
        window.saturated =
            ranks.saturation(calibration, count_bin_details(request, measured, undecided));
    }
    return window;
}

ProposedWindow propose_for_integers(const LacDistribution& distribution, const SampleCounts& counts,
                                    const MeasureRequest& request, double low, double high) {
    if (distribution.empty()) fail("slabtone-window", Failure::no_lac_sample);
    ProposedWindow window;
    window.samples = distribution.samples();
    window.measured = distribution.measured();
    window.minimum = distribution.minimum();
    window.low_lac = distribution.percentile(low);
    window.median = distribution.percentile(50);
    window.high_lac = distribution.percentile(high);
    window.maximum = distribution.maximum();
    window.shortest = !request.input_pattern.empty() || request.calibration.has_value();
    settle_texts(window, request);
    window.saturated = saturation(counts, window.lac_min, window.lac_max);
    return window;
}

}  // namespace

std::string shortest_text(double value) {
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end);
}

ProposedWindow propose_window(const LacDistribution& distribution, const SampleCounts& counts,
                              std::int32_t first, std::int32_t last, double low, double high) {
    MeasureRequest request;
    request.first = first;
    request.last = last;
    return propose_for_integers(distribution, counts, request, low, high);
}

ProposedWindow propose_window(const MeasureRequest& request, const StackMeasurement& measured,
                              double low, double high) {
    if (measured.floats) return propose_for_floats(request, measured, low, high);
    return propose_for_integers(LacDistribution(measured.counts), measured.counts, request, low,
                                high);
}

ProposedWindow measure(const MeasureRequest& request, double low, double high) {
    return propose_window(request, measure_range(request), low, high);
}

LacDistribution drawn_distribution(const StackMeasurement& measured, const ProposedWindow& window) {
    if (!measured.floats) return LacDistribution(measured.counts);
    const FloatCounts& counts = *measured.floats;
    const Calibration& c = measured.float_calibration;
    std::vector<std::pair<double, std::uint64_t>> values;
    std::uint64_t samples = counts.nan;
    for (std::uint32_t bin = 0; bin < counts.bins.size(); ++bin) {
        const std::uint64_t n = counts.bins[bin];
        if (n == 0) continue;
        samples += n;
        const double lac = static_cast<double>(float_of_order_key(lowest_key(bin))) / c.lac_scale +
                           static_cast<double>(c.lac_offset);
        values.emplace_back(lac, n);
    }
    LacDistribution bins(std::move(values), samples);
    if (bins.empty()) return bins;
    // The ends exact, as the report gives them.
    auto exact = bins.values();
    exact.front().first = window.minimum;
    exact.back().first = window.maximum;
    return LacDistribution(std::move(exact), samples);
}

}  // namespace slabtone
