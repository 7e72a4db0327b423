// slabtone-window: measures the LAC distribution of a stack of 16-bit
// slices (rec%04d.tif, read and calibrated exactly as slabtone reads them)
// and proposes the window LACmin, LACmax from two percentiles, with the
// slabtone command that applies it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "atomic_file.hpp"
#include "failure.hpp"
#include "histogram_svg.hpp"
#include "lac_distribution.hpp"
#include "memory_pool.hpp"
#include "slice_run.hpp"
#include "window_command_line.hpp"

namespace {

using namespace slabtone;

// Counts the samples of each slice under the calibration the record gives
// it; the run adds each slice's counts to the total as it commits it.
class CountingJob {
  public:
    using Result = SampleCounts;

    Result process(const ReadSlice& slice, const DescriptionRecord& record) {
        if (!record.calibrated()) fail(slice.input_name, Failure::calibration_not_found);
        SampleCounts counts;
        try {
            counts.add(slice.gray.rows, record.lac_scale, record.lac_offset);
        } catch (const std::bad_alloc&) {
            fail_for_memory(slice.input_name, Failure::cell_allocation);
        }
        return counts;
    }
    void release_memory() {}
};

std::uint64_t counting_need(const SliceShape& shape) {
    return shape.reading_need() + sizeof(SampleCounts::Counts);
}

SampleCounts count_samples(const WindowParameters& parameters) {
    SampleCounts total;
    const std::int64_t first = parameters.sta_ly;
    const std::int64_t last = parameters.dst_ly;
    const bool show_progress = ::isatty(STDERR_FILENO) == 1;
    SliceRunJobs<CountingJob> jobs{[] { return std::make_unique<CountingJob>(); }, counting_need};
    try {
        run_slices_in_order(first, last, jobs, [&](std::int64_t slice, SampleCounts&& counts) {
            try {
                total.merge(counts);
            } catch (const std::bad_alloc&) {
                fail_for_memory(input_name(slice), Failure::cell_allocation);
            }
            if (show_progress) {
                std::fprintf(stderr, "%s (%lld of %lld)\r", input_name(slice).c_str(),
                             static_cast<long long>(slice - first + 1),
                             static_cast<long long>(last - first + 1));
            }
        });
    } catch (...) {
        if (show_progress && first <= last) std::fputc('\n', stderr);
        throw;
    }
    if (show_progress && first <= last) std::fputc('\n', stderr);
    return total;
}

std::string fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

int report(const WindowParameters& parameters, const SampleCounts& counts) {
    const std::int64_t slices = parameters.sta_ly <= parameters.dst_ly
                                    ? std::int64_t{parameters.dst_ly} - parameters.sta_ly + 1
                                    : 0;
    const LacDistribution distribution(counts);
    std::printf("slices read: %lld\n", static_cast<long long>(slices));
    std::printf("samples read: %llu\n", static_cast<unsigned long long>(distribution.samples()));
    if (distribution.empty()) {
        std::fputs("slabtone-window : no sample with a LAC value in the range.\n", stderr);
        return 1;
    }
    // The window as slabtone will read it back from the command.
    const double low = distribution.percentile(parameters.low);
    const double high = distribution.percentile(parameters.high);
    const std::string low_text = fixed(low);
    const std::string high_text = fixed(high);
    const double lac_min = std::atof(low_text.c_str());
    const double lac_max = std::atof(high_text.c_str());

    std::printf("minimum LAC: %.6f\n", distribution.minimum());
    std::printf("%g%% LAC: %.6f\n", parameters.low, low);
    std::printf("median LAC: %.6f\n", distribution.percentile(50));
    std::printf("%g%% LAC: %.6f\n", parameters.high, high);
    std::printf("maximum LAC: %.6f\n", distribution.maximum());
    const Saturation saturated = saturation(counts, lac_min, lac_max);
    const double total = static_cast<double>(distribution.samples());
    std::printf("converted to 0: %.3f%% of samples\n", 100.0 * saturated.to_black / total);
    std::printf("converted to 255: %.3f%% of samples\n", 100.0 * saturated.to_white / total);

    if (parameters.svg_path) {
        const std::string svg = histogram_svg(distribution, lac_min, lac_max);
        if (!store_file_atomically(
                *parameters.svg_path,
                {reinterpret_cast<const std::uint8_t*>(svg.data()), svg.size()})) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s : %s\n", parameters.svg_path->c_str(),
                         failure_text(Failure::cannot_write_file).data());
            return 1;
        }
    }
    std::printf("slabtone %d %d %s %s\n", parameters.sta_ly, parameters.dst_ly, low_text.c_str(),
                high_text.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    slabtone::settle_process_memory();
    std::optional<WindowParameters> parameters = parse_window_command_line(argc, argv);
    if (!parameters) {
        std::fwrite(kWindowUsage.data(), 1, kWindowUsage.size(), stderr);
        return 1;
    }
    try {
        return report(*parameters, count_samples(*parameters));
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
