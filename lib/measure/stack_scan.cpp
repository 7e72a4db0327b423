// One pass over the slices of a range, read and calibrated exactly as
// slabtone reads them: the counts of every sample value per calibration,
// the slices to show on the page, the planes, and the smallest slice sizes.
#include <algorithm>
#include <cstdint>
#include <new>

#include "common/failure.hpp"
#include "convert/stack_folder.hpp"
#include "measure/lac_distribution.hpp"
#include "measure/ortho_planes.hpp"
#include "measure/previews.hpp"
#include "run/slice_run.hpp"
#include "slabtone/slabtone.hpp"

namespace slabtone {

namespace {

// What the measurement keeps of one slice.
struct MeasuredSlice {
    SampleCounts counts;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::optional<PreviewSlice> preview;
    std::optional<PlaneCut> cut;
    bool cut_missing = false;  // a plane slice too small for the planes
};

// Counts the samples of each slice under the calibration the record gives
// it, and takes the preview of a slice to show; the measurement adds each
// slice to the total as it commits it.
class CountingJob {
  public:
    using Result = MeasuredSlice;

    explicit CountingJob(const MeasureRequest& request) : request_(request) {}

    Result process(const ReadSlice& slice, const DescriptionRecord& record) {
        if (!record.calibrated()) fail(slice.input_name, Failure::calibration_not_found);
        const Calibration calibration{record.lac_scale, record.lac_offset};
        const RowTable& rows = slice.gray.rows;
        MeasuredSlice measured;
        measured.width = rows.width();
        measured.height = rows.height();
        try {
            count_samples(measured.counts, rows, calibration, request_.inside_circle);
            const std::optional<PlaneGeometry>& planes = request_.planes;
            if (planes && in_planes(*planes, slice.number)) {
                measured.cut =
                    cut_planes(*planes, rows, calibration.lac_scale, calibration.lac_offset);
                measured.cut_missing = !measured.cut;
            }
            const auto& show = request_.show;
            if (std::find(show.begin(), show.end(), slice.number) != show.end()) {
                measured.preview =
                    preview_of(slice.number, rows, calibration, slice.gray.description);
            }
        } catch (const std::bad_alloc&) {
            fail_for_memory(slice.input_name, Failure::cell_allocation);
        }
        return measured;
    }
    void release_memory() {}

  private:
    const MeasureRequest& request_;
};
static_assert(SliceJob<CountingJob>);

std::uint64_t counting_need(const SliceShape& shape) {
    return shape.reading_need() + sizeof(SampleCounts::Counts);
}

}  // namespace

StackMeasurement measure_range(const MeasureRequest& request,
                               const std::function<void(std::int64_t slice)>& measured) {
    StackMeasurement result;
    if (request.planes) result.planes = empty_planes(*request.planes);
    const SliceRunJobs<CountingJob> jobs{[&] { return std::make_unique<CountingJob>(request); },
                                         counting_need};
    const StackFolder folder(request.folder);
    run_slices_in_order(folder, request.first, request.last, jobs,
                        [&](std::int64_t slice, MeasuredSlice&& scanned) {
                            try {
                                result.counts.merge(scanned.counts);
                                if (scanned.cut && result.planes) {
                                    add_to_planes(*result.planes, *request.planes, slice,
                                                  *scanned.cut);
                                }
                            } catch (const std::bad_alloc&) {
                                fail_for_memory(input_name(slice), Failure::cell_allocation);
                            }
                            result.smallest.include(slice, scanned.width, scanned.height);
                            if (scanned.preview) {
                                result.previews.push_back(std::move(*scanned.preview));
                            }
                            if (scanned.cut_missing) result.planes.reset();
                            if (measured) measured(slice);
                        });
    // Shown in the order asked for.
    const auto& show = request.show;
    std::sort(result.previews.begin(), result.previews.end(), [&](const auto& a, const auto& b) {
        return std::find(show.begin(), show.end(), a.slice) <
               std::find(show.begin(), show.end(), b.slice);
    });
    return result;
}

}  // namespace slabtone
