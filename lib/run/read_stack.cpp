// The samples of a range in one block, slice after slice: each slice copied
// into its place by whichever thread read it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "common/failure.hpp"
#include "convert/lac_window.hpp"
#include "run/slice_run.hpp"
#include "slabtone/slabtone.hpp"

namespace slabtone {

namespace {

struct StackBlock {
    std::int64_t first = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t* samples = nullptr;
    std::optional<Crop> crop;

    std::size_t slice_size() const { return std::size_t{width} * height; }
};

// Copies a read slice into its place: all of it, or the crop.
void place_slice(const StackBlock& block, std::int64_t number, const std::string& name,
                 const RowTable& rows) {
    const std::optional<SampleView> view = crop_rows(rows, block.crop);
    if (!view) fail(name, Failure::crop_outside_image);
    if (view->width != block.width || view->height != block.height) {
        fail(name, Failure::other_slice_size);
    }
    std::uint16_t* out =
        block.samples + static_cast<std::size_t>(number - block.first) * block.slice_size();
    for (std::uint32_t r = 0; r < view->height; ++r) {
        std::memcpy(out + std::size_t{r} * view->width, view->row(r),
                    std::size_t{view->width} * sizeof(std::uint16_t));
    }
}

class PlacingJob {
  public:
    struct Result {};

    explicit PlacingJob(const StackBlock& block) : block_(block) {}

    Result process(const ReadSlice& slice, const DescriptionRecord&) {
        place_slice(block_, slice.number, slice.input_name, slice.gray.rows);
        return {};
    }
    void release_memory() {}

  private:
    const StackBlock& block_;
};
static_assert(SliceJob<PlacingJob>);

}  // namespace

void read_stack(
    const StackRequest& request,
    const std::function<std::uint16_t*(std::uint32_t width, std::uint32_t height)>& place) {
    if (request.first > request.last) return;
    // Named by a pattern, the slices are still read strictly: the stack is
    // one block of 16-bit unsigned samples.
    const StackFolder folder(request.folder, slice_names_of(request.input_pattern, {}));
    StackBlock block;
    block.first = request.first;
    block.crop = request.crop;
    std::int64_t next = request.first;
    if (const std::optional<Crop>& c = request.crop; c && c->x1 <= c->x2 && c->y1 <= c->y2) {
        // Every slice gives the crop's size or fails.
        block.width = static_cast<std::uint32_t>(std::int64_t{c->x2} - c->x1 + 1);
        block.height = static_cast<std::uint32_t>(std::int64_t{c->y2} - c->y1 + 1);
    } else {
        // The first slice sets the size: read it alone (it may be a pipe,
        // which gives its bytes once).
        ReaderBuffers buffers;
        const ReadSlice first = read_slice(folder, next, buffers);
        const std::optional<SampleView> view = crop_rows(first.gray.rows, request.crop);
        if (!view) fail(first.input_name, Failure::crop_outside_image);
        block.width = view->width;
        block.height = view->height;
        block.samples = place(block.width, block.height);
        place_slice(block, next, first.input_name, first.gray.rows);
        ++next;
    }
    if (block.samples == nullptr) block.samples = place(block.width, block.height);
    const SliceRunJobs<PlacingJob> jobs{
        [&] { return std::make_unique<PlacingJob>(block); },
        [](const SliceShape& shape) { return shape.reading_need(); }};
    run_slices_in_order(folder, next, request.last, jobs,
                        [](std::int64_t, PlacingJob::Result&&) {});
}

}  // namespace slabtone
