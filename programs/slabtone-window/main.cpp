// slabtone-window: measures the LAC distribution of a stack of 16-bit
// slices (rec%04d.tif, read and calibrated exactly as slabtone reads them)
// and proposes the window LACmin, LACmax from two percentiles, with the
// slabtone command that applies it; draws the distribution as an SVG and
// writes a page on which the window can be moved over real slices.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

#include "cli/sole_option.hpp"
#include "slabtone-window/histogram_svg.hpp"
#include "slabtone-window/window_command_line.hpp"
#include "slabtone-window/window_page.hpp"
#include "slabtone/measurement.hpp"

namespace {

using namespace slabtone;

// At most this many slices in a plane; tests lower it to see a sparse
// selection on a small stack.
std::uint32_t plane_slice_limit() {
    const char* limit = std::getenv("SLABTONE_WINDOW_PLANE_SLICES");
    const long value = limit != nullptr ? std::atol(limit) : 0;
    return value > 0 && value <= static_cast<long>(kPlaneSlices) ? static_cast<std::uint32_t>(value)
                                                                 : kPlaneSlices;
}

// Measures the range, with a progress line on standard error when it is a
// terminal.
StackMeasurement measure_stack(const MeasureRequest& request, const PageContents& page) {
    const bool show_progress = is_terminal(stderr);
    const std::int64_t first = request.first;
    const std::int64_t last = request.last;
    auto end_progress = [&] {
        if (show_progress && first <= last) std::fputc('\n', stderr);
    };
    try {
        StackMeasurement measured = measure_range(
            request,
            [&](std::int64_t slice) {
                if (!show_progress) return;
                std::fprintf(stderr, "%s (%lld of %lld)\r",
                             input_name(slice, request.input_pattern).c_str(),
                             static_cast<long long>(slice - first + 1),
                             static_cast<long long>(last - first + 1));
            },
            page);
        end_progress();
        return measured;
    } catch (...) {
        end_progress();
        throw;
    }
}

// A LAC value of the report: "%.6f", or the shortest form that reads back
// as the same double when the window is printed so.
std::string lac_text(double value, bool shortest) {
    if (shortest) return shortest_text(value);
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

int report(const WindowParameters& parameters, const MeasureRequest& request,
           const StackMeasurement& measured) {
    const SampleCounts& counts = measured.counts;
    const std::int64_t slices = parameters.sta_ly <= parameters.dst_ly
                                    ? std::int64_t{parameters.dst_ly} - parameters.sta_ly + 1
                                    : 0;
    // The window as slabtone will read it back from the command.
    ProposedWindow window;
    std::optional<SliceError> empty;
    try {
        window = propose_window(request, measured, parameters.low, parameters.high);
    } catch (const SliceError& error) {
        // A slice's error stops the run; the range's own (no sample with a
        // LAC value) comes after the counts.
        if (error.file_name() != "slabtone-window") throw;
        empty = error;
    }
    std::printf("slices read: %lld\n", static_cast<long long>(slices));
    const std::uint64_t samples =
        empty ? drawn_distribution(measured, window).samples() : window.samples;
    if (parameters.inside_circle) {
        // Everything below describes this population only.
        std::printf("samples inside the reconstruction circles: %llu\n",
                    static_cast<unsigned long long>(samples));
    } else {
        std::printf("samples read: %llu\n", static_cast<unsigned long long>(samples));
    }
    if (empty) {  // no sample with a LAC value
        std::fprintf(stderr, "%s\n", empty->what());
        return 1;
    }
    const bool shortest = window.shortest;
    std::printf("minimum LAC: %s\n", lac_text(window.minimum, shortest).c_str());
    std::printf("%g%% LAC: %s\n", parameters.low, lac_text(window.low_lac, shortest).c_str());
    std::printf("median LAC: %s\n", lac_text(window.median, shortest).c_str());
    std::printf("%g%% LAC: %s\n", parameters.high, lac_text(window.high_lac, shortest).c_str());
    std::printf("maximum LAC: %s\n", lac_text(window.maximum, shortest).c_str());
    const double total = static_cast<double>(window.samples);
    std::printf("converted to 0: %.3f%% of samples\n", 100.0 * window.saturated.to_black / total);
    std::printf("converted to 255: %.3f%% of samples\n", 100.0 * window.saturated.to_white / total);

    const LacDistribution distribution = drawn_distribution(measured, window);
    if (parameters.svg_path) {
        store_file(*parameters.svg_path,
                   histogram_svg(distribution, window.lac_min, window.lac_max));
    }
    if (parameters.html_path) {
        WindowPage page;
        page.sta_ly = parameters.sta_ly;
        page.dst_ly = parameters.dst_ly;
        page.slices = slices;
        page.low = parameters.low;
        page.high = parameters.high;
        page.lac_min_text = window.lac_min_text;
        page.lac_max_text = window.lac_max_text;
        page.counts = &counts;
        page.previews = measured.previews;
        page.smallest = measured.smallest;
        page.inside_circle = parameters.inside_circle;
        page.planes = measured.planes ? &*measured.planes : nullptr;
        page.sample_type = measured.sample_type;
        page.floats = measured.floats.get();
        page.float_calibration = measured.float_calibration;
        page.shortest = window.shortest;
        page.options = window.options;
        page.proposed_saturated = window.saturated;
        store_file(*parameters.html_path, window_page(page));
    }
    std::printf("%s\n", window.command.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    settle_process_memory();
    remove_temporary_file_on_interrupt();
    if (auto status = answer_sole_option(argc, argv, window_help_text())) return *status;
    std::string fault;
    std::optional<WindowParameters> parameters = parse_window_command_line(argc, argv, &fault);
    if (!parameters) {
        if (fault.empty()) fault = kWindowUsage;
        std::fwrite(fault.data(), 1, fault.size(), stderr);
        return 1;
    }
    try {
        MeasureRequest request;
        request.first = parameters->sta_ly;
        request.last = parameters->dst_ly;
        request.inside_circle = parameters->inside_circle;
        PageContents page;
        page.show = parameters->show;
        request.input_pattern = parameters->stack.input_pattern;
        request.calibration = parameters->stack.calibration;
        // The planes' place comes from the slices' headers, before the
        // measurement.
        if (parameters->html_path) {
            if (const auto smallest =
                    smallest_size(request.first, request.last, {}, request.input_pattern)) {
                page.planes = plane_geometry(request.first, request.last, *smallest,
                                             parameters->plane, plane_slice_limit());
                if (!page.planes && parameters->plane) {
                    // Outside the smallest slice.
                    std::fwrite(kWindowUsage.data(), 1, kWindowUsage.size(), stderr);
                    return 1;
                }
            }
        }
        return report(*parameters, request, measure_stack(request, page));
    } catch (const SliceError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "slabtone-window : %s\n", error.what());
        return 1;
    }
}
