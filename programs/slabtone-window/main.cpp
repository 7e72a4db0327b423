// slabtone-window: measures the LAC distribution of a stack of 16-bit
// slices (rec%04d.tif, read and calibrated exactly as slabtone reads them)
// and proposes the window LACmin, LACmax from two percentiles, with the
// slabtone command that applies it; draws the distribution as an SVG and
// writes a page on which the window can be moved over real slices.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "cli/sole_option.hpp"
#include "slabtone-window/histogram_svg.hpp"
#include "slabtone-window/window_command_line.hpp"
#include "slabtone-window/window_page.hpp"
#include "slabtone/slabtone.hpp"

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
StackMeasurement measure(const MeasureRequest& request) {
    const bool show_progress = is_terminal(stderr);
    const std::int64_t first = request.first;
    const std::int64_t last = request.last;
    auto end_progress = [&] {
        if (show_progress && first <= last) std::fputc('\n', stderr);
    };
    try {
        StackMeasurement measured = measure_range(request, [&](std::int64_t slice) {
            if (!show_progress) return;
            std::fprintf(stderr, "%s (%lld of %lld)\r", input_name(slice).c_str(),
                         static_cast<long long>(slice - first + 1),
                         static_cast<long long>(last - first + 1));
        });
        end_progress();
        return measured;
    } catch (...) {
        end_progress();
        throw;
    }
}

int report(const WindowParameters& parameters, const StackMeasurement& measured) {
    const SampleCounts& counts = measured.counts;
    const std::int64_t slices = parameters.sta_ly <= parameters.dst_ly
                                    ? std::int64_t{parameters.dst_ly} - parameters.sta_ly + 1
                                    : 0;
    const LacDistribution distribution(counts);
    std::printf("slices read: %lld\n", static_cast<long long>(slices));
    if (parameters.inside_circle) {
        // Everything below describes this population only.
        std::printf("samples inside the reconstruction circles: %llu\n",
                    static_cast<unsigned long long>(distribution.samples()));
    } else {
        std::printf("samples read: %llu\n",
                    static_cast<unsigned long long>(distribution.samples()));
    }
    // The window as slabtone will read it back from the command.
    ProposedWindow window;
    try {
        window = propose_window(distribution, counts, parameters.sta_ly, parameters.dst_ly,
                                parameters.low, parameters.high);
    } catch (const SliceError& error) {  // no sample with a LAC value
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("minimum LAC: %.6f\n", distribution.minimum());
    std::printf("%g%% LAC: %.6f\n", parameters.low, window.low_lac);
    std::printf("median LAC: %.6f\n", distribution.percentile(50));
    std::printf("%g%% LAC: %.6f\n", parameters.high, window.high_lac);
    std::printf("maximum LAC: %.6f\n", distribution.maximum());
    const double total = static_cast<double>(distribution.samples());
    std::printf("converted to 0: %.3f%% of samples\n", 100.0 * window.saturated.to_black / total);
    std::printf("converted to 255: %.3f%% of samples\n", 100.0 * window.saturated.to_white / total);

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
        store_file(*parameters.html_path, window_page(page));
    }
    std::printf("%s\n", window.command.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    settle_process_memory();
    remove_temporary_file_on_interrupt();
    if (auto status = answer_sole_option(argc, argv, kWindowUsage)) return *status;
    std::optional<WindowParameters> parameters = parse_window_command_line(argc, argv);
    if (!parameters) {
        std::fwrite(kWindowUsage.data(), 1, kWindowUsage.size(), stderr);
        return 1;
    }
    try {
        MeasureRequest request;
        request.first = parameters->sta_ly;
        request.last = parameters->dst_ly;
        request.inside_circle = parameters->inside_circle;
        request.show = parameters->show;
        // The planes' place comes from the slices' headers, before the
        // measurement.
        if (parameters->html_path) {
            if (const auto smallest = smallest_size(request.first, request.last)) {
                request.planes = plane_geometry(request.first, request.last, *smallest,
                                                parameters->plane, plane_slice_limit());
                if (!request.planes && parameters->plane) {
                    // Outside the smallest slice.
                    std::fwrite(kWindowUsage.data(), 1, kWindowUsage.size(), stderr);
                    return 1;
                }
            }
        }
        return report(*parameters, measure(request));
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
