#include "slabtone-window/histogram_svg.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <tuple>
#include <vector>

namespace slabtone {

namespace {

constexpr double kWidth = 860;
constexpr double kHeight = 420;
constexpr double kLeft = 70;
constexpr double kRight = 20;
constexpr double kTop = 40;
constexpr double kBottom = 60;
constexpr int kBins = 240;

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// A step of 1, 2 or 5 times a power of ten giving about six ticks.
double tick_step(double span) {
    if (!(span > 0) || !std::isfinite(span)) return 1;
    const double raw = span / 6;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (raw <= factor * power) return factor * power;
    }
    return 10 * power;
}

}  // namespace

std::string histogram_svg(const LacDistribution& distribution, double lac_min, double lac_max) {
    // The axis covers the data and the window.
    double low = std::min(distribution.minimum(), std::min(lac_min, lac_max));
    double high = std::max(distribution.maximum(), std::max(lac_min, lac_max));
    if (!(high > low)) {
        low -= 0.5;
        high += 0.5;
    }
    const double plot_width = kWidth - kLeft - kRight;
    const double plot_height = kHeight - kTop - kBottom;
    auto x_of = [&](double lac) { return kLeft + (lac - low) / (high - low) * plot_width; };

    std::vector<std::uint64_t> bins(kBins, 0);
    for (const auto& [lac, count] : distribution.values()) {
        if (!std::isfinite(lac)) continue;
        auto bin = static_cast<int>((lac - low) / (high - low) * kBins);
        bins[static_cast<std::size_t>(std::clamp(bin, 0, kBins - 1))] += count;
    }
    const std::uint64_t most = *std::max_element(bins.begin(), bins.end());
    const double top_decade =
        std::ceil(std::log10(static_cast<double>(std::max<std::uint64_t>(most, 1)) + 1));
    auto y_of = [&](double count) {
        return kTop + plot_height - std::log10(count + 1) / std::max(top_decade, 1.0) * plot_height;
    };

    std::string svg;
    svg += format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\"", kWidth);
    svg += format(" height=\"%.0f\"", kHeight);
    svg += format(" viewBox=\"0 0 %.0f", kWidth) + format(" %.0f\"", kHeight);
    svg += " font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + format("%.1f", kWidth / 2) +
           "\" y=\"22\" text-anchor=\"middle\" font-size=\"15\">LAC distribution of the stack"
           " (counts on a log scale)</text>\n";

    // The window, shaded behind the bars.
    const double window_left = x_of(std::min(lac_min, lac_max));
    const double window_right = x_of(std::max(lac_min, lac_max));
    svg += "<rect class=\"window\" x=\"" + format("%.2f", window_left) + "\" y=\"" +
           format("%.2f", kTop) + "\" width=\"" + format("%.2f", window_right - window_left) +
           "\" height=\"" + format("%.2f", plot_height) + "\" fill=\"#fff3c4\"/>\n";

    svg += "<g class=\"bars\" fill=\"#3b6ea5\">\n";
    const double bar_width = plot_width / kBins;
    for (int b = 0; b < kBins; ++b) {
        if (bins[static_cast<std::size_t>(b)] == 0) continue;
        const double y = y_of(static_cast<double>(bins[static_cast<std::size_t>(b)]));
        svg += "<rect x=\"" + format("%.2f", kLeft + b * bar_width) + "\" y=\"" +
               format("%.2f", y) + "\" width=\"" + format("%.2f", bar_width) + "\" height=\"" +
               format("%.2f", kTop + plot_height - y) + "\"/>\n";
    }
    svg += "</g>\n";

    // Axes, ticks and labels.
    const double axis_y = kTop + plot_height;
    svg += "<g stroke=\"black\" fill=\"none\">\n";
    svg += "<line x1=\"" + format("%.2f", kLeft) + "\" y1=\"" + format("%.2f", axis_y) +
           "\" x2=\"" + format("%.2f", kLeft + plot_width) + "\" y2=\"" + format("%.2f", axis_y) +
           "\"/>\n";
    svg += "<line x1=\"" + format("%.2f", kLeft) + "\" y1=\"" + format("%.2f", kTop) + "\" x2=\"" +
           format("%.2f", kLeft) + "\" y2=\"" + format("%.2f", axis_y) + "\"/>\n";
    svg += "</g>\n<g class=\"lac-ticks\" text-anchor=\"middle\">\n";
    const double step = tick_step(high - low);
    for (double tick = std::ceil(low / step) * step; tick <= high + step * 1e-9; tick += step) {
        const double x = x_of(tick);
        svg += "<line x1=\"" + format("%.2f", x) + "\" y1=\"" + format("%.2f", axis_y) +
               "\" x2=\"" + format("%.2f", x) + "\" y2=\"" + format("%.2f", axis_y + 6) +
               "\" stroke=\"black\"/>\n";
        svg += "<text x=\"" + format("%.2f", x) + "\" y=\"" + format("%.2f", axis_y + 20) + "\">" +
               format("%g", std::fabs(tick) < step * 1e-9 ? 0.0 : tick) + "</text>\n";
    }
    svg += "</g>\n<g class=\"count-ticks\" text-anchor=\"end\">\n";
    for (int decade = 0; decade <= static_cast<int>(top_decade); ++decade) {
        // A bar of n samples stands log10(n + 1) high.
        const double count = std::pow(10.0, decade);
        const double y = y_of(count - 1);
        svg += "<text x=\"" + format("%.2f", kLeft - 6) + "\" y=\"" + format("%.2f", y + 4) +
               "\">" + format("%.0f", count) + "</text>\n";
    }
    svg += "</g>\n";
    svg += "<text x=\"" + format("%.1f", kLeft + plot_width / 2) + "\" y=\"" +
           format("%.1f", kHeight - 12) +
           "\" text-anchor=\"middle\">linear attenuation coefficient (LAC)</text>\n";
    svg += "<text transform=\"translate(16 " + format("%.1f", kTop + plot_height / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">samples</text>\n";

    // The proposed window's two ends.
    // Labels sit inside the window: right of LACmin, left of LACmax (or the
    // other way round for an inverted window).
    const bool increasing = lac_min <= lac_max;
    for (const auto& [id, lac, label, inner_right] :
         {std::tuple{"lacmin", lac_min, "LACmin ", increasing},
          std::tuple{"lacmax", lac_max, "LACmax ", !increasing}}) {
        const double x = x_of(lac);
        svg += std::string("<line id=\"") + id + "\" data-lac=\"" + format("%.6f", lac) +
               "\" x1=\"" + format("%.2f", x) + "\" y1=\"" + format("%.2f", kTop) + "\" x2=\"" +
               format("%.2f", x) + "\" y2=\"" + format("%.2f", axis_y) +
               "\" stroke=\"#c0392b\" stroke-width=\"2\"/>\n";
        svg += "<text x=\"" + format("%.2f", inner_right ? x + 4 : x - 4) + "\" y=\"" +
               format("%.2f", kTop - 6) + "\" text-anchor=\"" + (inner_right ? "start" : "end") +
               "\" fill=\"#c0392b\">" + label + format("%.6f", lac) + "</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace slabtone
