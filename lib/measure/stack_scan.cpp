// One pass over the slices of a range, read and calibrated exactly as
// slabtone reads them: the counts of every sample value per calibration (of
// every float value's bin), the slices to show on the page, the planes, and
// the smallest slice sizes; and for float slices the second pass.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "common/failure.hpp"
#include "convert/stack_folder.hpp"
#include "measure/float_values.hpp"
#include "measure/lac_distribution.hpp"
#include "measure/ortho_planes.hpp"
#include "measure/previews.hpp"
#include "measure/stack_details.hpp"
#include "platform/files.hpp"
#include "run/slice_run.hpp"
#include "slabtone/measurement.hpp"

namespace slabtone {

namespace {

// What the measurement keeps of one slice.
struct MeasuredSlice {
    SampleKind kind = SampleKind::unsigned_int;
    SampleCounts counts;
    std::unique_ptr<FloatCounts> floats;
    std::vector<float> kept;  // a float slice that cannot be read again
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::optional<PreviewSlice> preview;
    std::optional<PlaneCut> cut;
    bool cut_missing = false;   // a plane slice too small for the planes
    bool uncalibrated = false;  // an integer slice whose record has no calibration
};

StackFolder folder_of(const MeasureRequest& request) {
    return StackFolder(request.folder, slice_names_of(request.input_pattern, {}));
}

// Counts the samples of each slice under the calibration the record (or
// the request) gives it, and takes the preview of a slice to show; the
// measurement adds each slice to the total as it commits it.
class CountingJob {
  public:
    using Result = MeasuredSlice;

    CountingJob(const MeasureRequest& request, const PageContents& page, const StackFolder& folder)
        : request_(request), page_(page), folder_(folder) {}

    Result process(const ReadSlice& slice, const DescriptionRecord& record) {
        const GraySlice& gray = slice.gray;
        const RowTable& rows = gray.rows;
        MeasuredSlice measured;
        measured.kind = gray.kind;
        measured.width = static_cast<std::uint32_t>(gray.width);
        measured.height = static_cast<std::uint32_t>(gray.height);
        // A slice of another type than the first is told before a missing
        // calibration, when the slice is committed.
        if (!request_.calibration && gray.kind != SampleKind::floating && !record.calibrated()) {
            measured.uncalibrated = true;
            return measured;
        }
        const Calibration calibration = samples_calibration(slice, record, request_.calibration);
        try {
            if (gray.kind == SampleKind::floating) {
                measured.floats = std::make_unique<FloatCounts>();
                count_floats(*measured.floats, rows, measured.width, measured.height,
                             request_.inside_circle);
                if (!is_regular_file(folder_.input_path(slice.number))) {
                    for_each_float(rows, measured.width, measured.height, request_.inside_circle,
                                   [&](float value) { measured.kept.push_back(value); });
                }
                take_preview(measured, slice, calibration);
                take_planes(measured, slice, calibration);
                return measured;
            }
            measured.counts.set_sample_type(sample_type_of(gray.kind));
            count_samples(measured.counts, rows, calibration, request_.inside_circle);
            take_planes(measured, slice, calibration);
            take_preview(measured, slice, calibration);
        } catch (const std::bad_alloc&) {
            fail_for_memory(slice.input_name, Failure::cell_allocation);
        }
        return measured;
    }
    void release_memory() {}

  private:
    void take_planes(MeasuredSlice& measured, const ReadSlice& slice,
                     const Calibration& calibration) const {
        const std::optional<PlaneGeometry>& planes = page_.planes;
        if (!planes || !in_planes(*planes, slice.number)) return;
        measured.cut = cut_planes(*planes, slice.gray.rows, measured.width,
                                  slice.gray.kind == SampleKind::floating, calibration.lac_scale,
                                  calibration.lac_offset);
        measured.cut_missing = !measured.cut;
    }

    void take_preview(MeasuredSlice& measured, const ReadSlice& slice,
                      const Calibration& calibration) const {
        const auto& show = page_.show;
        if (std::find(show.begin(), show.end(), slice.number) == show.end()) return;
        measured.preview = preview_of(slice.number, slice.gray.rows, measured.width,
                                      slice.gray.kind == SampleKind::floating, calibration,
                                      slice.gray.description);
    }

    const MeasureRequest& request_;
    const PageContents& page_;
    const StackFolder& folder_;
};
static_assert(SliceJob<CountingJob>);

std::uint64_t counting_need(const SliceShape& shape) {
    return shape.reading_need() + sizeof(SampleCounts::Counts);
}

// The second look at a float stack: the values of the bins asked for.
class DetailJob {
  public:
    using Result = std::unique_ptr<BinDetails>;

    DetailJob(const MeasureRequest& request, const std::vector<std::uint32_t>& bins)
        : request_(request), bins_(bins) {}

    Result process(const ReadSlice& slice, const DescriptionRecord&) {
        const GraySlice& gray = slice.gray;
        if (gray.kind != SampleKind::floating) fail(slice.input_name, Failure::other_sample_format);
        try {
            auto details = std::make_unique<BinDetails>(bins_);
            for_each_float(gray.rows, static_cast<std::uint32_t>(gray.width),
                           static_cast<std::uint32_t>(gray.height), request_.inside_circle,
                           [&](float value) {
                               if (value == value) details->add(value);
                           });
            return details;
        } catch (const std::bad_alloc&) {
            fail_for_memory(slice.input_name, Failure::cell_allocation);
        }
    }
    void release_memory() {}

  private:
    const MeasureRequest& request_;
    const std::vector<std::uint32_t>& bins_;
};
static_assert(SliceJob<DetailJob>);

}  // namespace

StackMeasurement measure_range(const MeasureRequest& request,
                               const std::function<void(std::int64_t slice)>& measured,
                               const PageContents& page) {
    StackMeasurement result;
    if (page.planes) result.planes = empty_planes(*page.planes);
    const StackFolder folder = folder_of(request);
    const SliceRunJobs<CountingJob> jobs{
        [&] { return std::make_unique<CountingJob>(request, page, folder); }, counting_need};
    std::optional<SampleKind> first_kind;
    run_slices_in_order(folder, request.first, request.last, jobs,
                        [&](std::int64_t slice, MeasuredSlice&& scanned) {
                            if (!first_kind) first_kind = scanned.kind;
                            if (scanned.kind != *first_kind) {
                                fail(folder.input_name(slice), Failure::other_sample_format);
                            }
                            if (scanned.uncalibrated)
                                fail(folder.input_name(slice), Failure::calibration_not_found);
                            result.sample_type = sample_type_of(scanned.kind);
                            try {
                                if (scanned.floats) {
                                    if (!result.floats)
                                        result.floats = std::make_unique<FloatCounts>();
                                    result.floats->merge(*scanned.floats);
                                    if (!scanned.kept.empty()) {
                                        result.kept.emplace_back(slice, std::move(scanned.kept));
                                    }
                                } else {
                                    result.counts.merge(scanned.counts);
                                }
                                if (scanned.cut && result.planes) {
                                    add_to_planes(*result.planes, *page.planes, slice,
                                                  *scanned.cut);
                                }
                            } catch (const std::bad_alloc&) {
                                fail_for_memory(folder.input_name(slice), Failure::cell_allocation);
                            }
                            result.smallest.include(slice, scanned.width, scanned.height);
                            if (scanned.preview)
                                result.previews.push_back(std::move(*scanned.preview));
                            if (scanned.cut_missing) result.planes.reset();
                            if (measured) measured(slice);
                        });
    if (result.floats) {
        result.float_calibration = request.calibration.value_or(Calibration{1, 0});
    }
    // Shown in the order asked for.
    const auto& show = page.show;
    std::sort(result.previews.begin(), result.previews.end(), [&](const auto& a, const auto& b) {
        return std::find(show.begin(), show.end(), a.slice) <
               std::find(show.begin(), show.end(), b.slice);
    });
    return result;
}

BinDetails count_bin_details(const MeasureRequest& request, const StackMeasurement& measured,
                             const std::vector<std::uint32_t>& bins) {
    BinDetails details(bins);
    const StackFolder folder = folder_of(request);
    const SliceRunJobs<DetailJob> jobs{
        [&] { return std::make_unique<DetailJob>(request, bins); },
        [](const SliceShape& shape) { return shape.reading_need() + sizeof(BinDetails::Counts); }};
    auto commit = [&](std::int64_t, std::unique_ptr<BinDetails>&& slice) { details.merge(*slice); };
    // The kept slices from memory, the others from their files again.
    std::int64_t next = request.first;
    for (const auto& [slice, values] : measured.kept) {
        if (next < slice) run_slices_in_order(folder, next, slice - 1, jobs, commit);
        for (const float value : values) {
            if (value == value) details.add(value);
        }
        next = slice + 1;
    }
    if (next <= request.last) run_slices_in_order(folder, next, request.last, jobs, commit);
    return details;
}

}  // namespace slabtone
