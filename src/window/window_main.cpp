// slabtone-window: measures the LAC distribution of a stack of 16-bit
// slices (rec%04d.tif, read and calibrated exactly as slabtone reads them)
// and proposes the window LACmin, LACmax from two percentiles, with the
// slabtone command that applies it; draws the distribution as an SVG and
// writes a page on which the window can be moved over real slices.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "atomic_file.hpp"
#include "command_line.hpp"
#include "failure.hpp"
#include "histogram_svg.hpp"
#include "lac_distribution.hpp"
#include "memory_pool.hpp"
#include "number_text.hpp"
#include "ortho_planes.hpp"
#include "stack_scan.hpp"
#include "window_command_line.hpp"
#include "window_page.hpp"

namespace {

using namespace slabtone;

std::string fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

// Stores an output of the tool (the SVG, the page); false, with the
// message printed, when it cannot be written.
bool store_output(const std::string& path, const std::string& text) {
    if (store_file_atomically(path,
                              {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})) {
        return true;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s : %s\n", path.c_str(),
                 failure_text(Failure::cannot_write_file).data());
    return false;
}

// At most this many slices in a plane; tests lower it to see a sparse
// selection on a small stack.
std::uint32_t plane_slice_limit() {
    const char* limit = std::getenv("SLABTONE_WINDOW_PLANE_SLICES");
    const long value = limit != nullptr ? std::atol(limit) : 0;
    return value > 0 && value <= static_cast<long>(kPlaneSlices) ? static_cast<std::uint32_t>(value)
                                                                 : kPlaneSlices;
}

int report(const WindowParameters& parameters, const StackScan& scan) {
    const SampleCounts& counts = scan.counts;
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
    if (distribution.empty()) {
        std::fputs("slabtone-window : no sample with a LAC value in the range.\n", stderr);
        return 1;
    }
    // The window as slabtone will read it back from the command.
    const double low = distribution.percentile(parameters.low);
    const double high = distribution.percentile(parameters.high);
    const std::string low_text = fixed(low);
    const std::string high_text = fixed(high);
    const double lac_min = double_from_text(low_text.c_str());
    const double lac_max = double_from_text(high_text.c_str());

    std::printf("minimum LAC: %.6f\n", distribution.minimum());
    std::printf("%g%% LAC: %.6f\n", parameters.low, low);
    std::printf("median LAC: %.6f\n", distribution.percentile(50));
    std::printf("%g%% LAC: %.6f\n", parameters.high, high);
    std::printf("maximum LAC: %.6f\n", distribution.maximum());
    const Saturation saturated = saturation(counts, lac_min, lac_max);
    const double total = static_cast<double>(distribution.samples());
    std::printf("converted to 0: %.3f%% of samples\n", 100.0 * saturated.to_black / total);
    std::printf("converted to 255: %.3f%% of samples\n", 100.0 * saturated.to_white / total);

    if (parameters.svg_path &&
        !store_output(*parameters.svg_path, histogram_svg(distribution, lac_min, lac_max))) {
        return 1;
    }
    if (parameters.html_path) {
        WindowPage page;
        page.sta_ly = parameters.sta_ly;
        page.dst_ly = parameters.dst_ly;
        page.slices = slices;
        page.low = parameters.low;
        page.high = parameters.high;
        page.lac_min_text = low_text;
        page.lac_max_text = high_text;
        page.counts = &counts;
        page.previews = scan.previews;
        page.smallest = scan.smallest;
        page.inside_circle = parameters.inside_circle;
        page.planes = scan.planes ? &*scan.planes : nullptr;
        if (!store_output(*parameters.html_path, window_page(page))) return 1;
    }
    std::printf("slabtone %d %d %s %s\n", parameters.sta_ly, parameters.dst_ly, low_text.c_str(),
                high_text.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    slabtone::settle_process_memory();
    if (auto status = answer_sole_option(argc, argv, kWindowUsage)) return *status;
    std::optional<WindowParameters> parameters = parse_window_command_line(argc, argv);
    if (!parameters) {
        std::fwrite(kWindowUsage.data(), 1, kWindowUsage.size(), stderr);
        return 1;
    }
    try {
        // The planes' place comes from the slices' headers, before the scan.
        std::optional<PlaneGeometry> planes;
        if (parameters->html_path) {
            if (const auto smallest = smallest_size(parameters->sta_ly, parameters->dst_ly)) {
                planes = plane_geometry(parameters->sta_ly, parameters->dst_ly, *smallest,
                                        parameters->plane, plane_slice_limit());
                if (!planes && parameters->plane) {
                    // Outside the smallest slice.
                    std::fwrite(kWindowUsage.data(), 1, kWindowUsage.size(), stderr);
                    return 1;
                }
            }
        }
        return report(*parameters, scan_stack(*parameters, planes));
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
