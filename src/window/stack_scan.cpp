#include "stack_scan.hpp"

#include <algorithm>
#include <cstdio>
#include <new>

#include "failure.hpp"
#include "slice_run.hpp"
#include "terminal.hpp"

namespace slabtone {

namespace {

// What the scan keeps of one slice.
struct ScannedSlice {
    SampleCounts counts;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::optional<PreviewSlice> preview;
    std::optional<PlaneCut> cut;
    bool cut_missing = false;  // a plane slice too small for the planes
};

// Counts the samples of each slice under the calibration the record gives
// it, and takes the preview of a slice to show; the scan adds each slice to
// the total as it commits it.
class CountingJob {
  public:
    using Result = ScannedSlice;

    CountingJob(const std::vector<std::int64_t>& show, bool inside_circle,
                const std::optional<PlaneGeometry>& planes)
        : show_(show), inside_circle_(inside_circle), planes_(planes) {}

    Result process(const ReadSlice& slice, const DescriptionRecord& record) {
        if (!record.calibrated()) fail(slice.input_name, Failure::calibration_not_found);
        ScannedSlice scanned;
        scanned.width = slice.gray.rows.width();
        scanned.height = slice.gray.rows.height();
        try {
            if (inside_circle_) {
                scanned.counts.add_inside_circle(slice.gray.rows, record.lac_scale,
                                                 record.lac_offset);
            } else {
                scanned.counts.add(slice.gray.rows, record.lac_scale, record.lac_offset);
            }
            if (planes_ && in_planes(*planes_, slice.number)) {
                scanned.cut =
                    cut_planes(*planes_, slice.gray.rows, record.lac_scale, record.lac_offset);
                scanned.cut_missing = !scanned.cut;
            }
            if (std::find(show_.begin(), show_.end(), slice.number) != show_.end()) {
                scanned.preview = preview_of(slice.number, slice.gray.rows, record.lac_scale,
                                             record.lac_offset, slice.gray.description);
            }
        } catch (const std::bad_alloc&) {
            fail_for_memory(slice.input_name, Failure::cell_allocation);
        }
        return scanned;
    }
    void release_memory() {}

  private:
    const std::vector<std::int64_t>& show_;
    const bool inside_circle_;
    const std::optional<PlaneGeometry>& planes_;
};

std::uint64_t counting_need(const SliceShape& shape) {
    return shape.reading_need() + sizeof(SampleCounts::Counts);
}

}  // namespace

StackScan scan_stack(const WindowParameters& parameters,
                     const std::optional<PlaneGeometry>& planes) {
    StackScan scan;
    if (planes) scan.planes = empty_planes(*planes);
    const std::int64_t first = parameters.sta_ly;
    const std::int64_t last = parameters.dst_ly;
    const bool show_progress = is_terminal(stderr);
    SliceRunJobs<CountingJob> jobs{[&] {
                                       return std::make_unique<CountingJob>(
                                           parameters.show, parameters.inside_circle, planes);
                                   },
                                   counting_need};
    try {
        run_slices_in_order(first, last, jobs, [&](std::int64_t slice, ScannedSlice&& scanned) {
            try {
                scan.counts.merge(scanned.counts);
            } catch (const std::bad_alloc&) {
                fail_for_memory(input_name(slice), Failure::cell_allocation);
            }
            scan.smallest.include(slice, scanned.width, scanned.height);
            if (scanned.preview) scan.previews.push_back(std::move(*scanned.preview));
            try {
                if (scanned.cut && scan.planes)
                    add_to_planes(*scan.planes, *planes, slice, *scanned.cut);
            } catch (const std::bad_alloc&) {
                fail_for_memory(input_name(slice), Failure::cell_allocation);
            }
            if (scanned.cut_missing) scan.planes.reset();
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
    // Shown in the order asked for.
    const auto& show = parameters.show;
    std::sort(scan.previews.begin(), scan.previews.end(), [&](const auto& a, const auto& b) {
        return std::find(show.begin(), show.end(), a.slice) <
               std::find(show.begin(), show.end(), b.slice);
    });
    return scan;
}

}  // namespace slabtone
