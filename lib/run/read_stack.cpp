// The samples of a range in one block, slice after slice: each slice copied
// into its place by whichever thread read it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "common/failure.hpp"
#include "convert/lac_window.hpp"
#include "run/slice_run.hpp"
#include "slabtone/slabtone.hpp"

namespace slabtone {

namespace {

std::size_t size_of(SampleType type) {
    return type == SampleType::float32 ? 4 : 2;
}

struct StackBlock {
    std::int64_t first = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    SampleType type = SampleType::uint16;
    std::uint8_t* samples = nullptr;
    std::optional<Crop> crop;

    std::size_t slice_bytes() const { return std::size_t{width} * height * size_of(type); }
};

// Copies a read slice into its place: all of it, or the crop.
void place_slice(const StackBlock& block, std::int64_t number, const ReadSlice& slice) {
    const GraySlice& gray = slice.gray;
    if (sample_type_of(gray.kind) != block.type)
        fail(slice.input_name, Failure::other_sample_format);
    const std::optional<Rectangle> cut =
        crop_rectangle(static_cast<std::uint32_t>(gray.width),
                       static_cast<std::uint32_t>(gray.height), block.crop);
    if (!cut) fail(slice.input_name, Failure::crop_outside_image);
    if (cut->width != block.width || cut->height != block.height) {
        fail(slice.input_name, Failure::other_slice_size);
    }
    const std::size_t size = size_of(block.type);
    const std::size_t row_bytes = std::size_t{cut->width} * size;
    std::uint8_t* out =
        block.samples + static_cast<std::size_t>(number - block.first) * block.slice_bytes();
    for (std::uint32_t r = 0; r < cut->height; ++r) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(gray.rows.row(cut->y + r));
        std::memcpy(out + r * row_bytes, row + std::size_t{cut->x} * size, row_bytes);
    }
}

class PlacingJob {
  public:
    struct Result {};

    explicit PlacingJob(const StackBlock& block) : block_(block) {}

    Result process(const ReadSlice& slice, const DescriptionRecord&) {
        place_slice(block_, slice.number, slice);
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
    const std::function<void*(std::uint32_t width, std::uint32_t height, SampleType type)>& place) {
    if (request.first > request.last) return;
    // Named by a pattern, the slices are read as slabtone reads a stack
    // named by --input: with the open reader, in their own type.
    const StackFolder folder(request.folder, slice_names_of(request.input_pattern, {}));
    StackBlock block;
    block.first = request.first;
    block.crop = request.crop;
    // The first slice sets the type, and the size unless a crop does:
    // read it alone (it may be a pipe, which gives its bytes once).
    ReaderBuffers buffers;
    const ReadSlice first = read_slice(folder, request.first, buffers);
    block.type = sample_type_of(first.gray.kind);
    const std::optional<Rectangle> cut =
        crop_rectangle(static_cast<std::uint32_t>(first.gray.width),
                       static_cast<std::uint32_t>(first.gray.height), request.crop);
    if (const std::optional<Crop>& c = request.crop; c && c->x1 <= c->x2 && c->y1 <= c->y2) {
        // Every slice gives the crop's size or fails.
        block.width = static_cast<std::uint32_t>(std::int64_t{c->x2} - c->x1 + 1);
        block.height = static_cast<std::uint32_t>(std::int64_t{c->y2} - c->y1 + 1);
    } else if (cut) {
        block.width = cut->width;
        block.height = cut->height;
    }
    if (!cut) fail(first.input_name, Failure::crop_outside_image);
    block.samples = static_cast<std::uint8_t*>(place(block.width, block.height, block.type));
    if (block.samples == nullptr) fail_for_memory(first.input_name, Failure::cell_allocation);
    place_slice(block, request.first, first);
    const SliceRunJobs<PlacingJob> jobs{
        [&] { return std::make_unique<PlacingJob>(block); },
        [](const SliceShape& shape) { return shape.reading_need(); }};
    run_slices_in_order(folder, request.first + 1, request.last, jobs,
                        [](std::int64_t, PlacingJob::Result&&) {});
}

void read_stack(
    const StackRequest& request,
    const std::function<std::uint16_t*(std::uint32_t width, std::uint32_t height)>& place) {
    read_stack(request, [&](std::uint32_t width, std::uint32_t height, SampleType type) -> void* {
        if (type != SampleType::uint16) {
            fail(input_name(request.first, request.input_pattern),
                 Failure::unsupported_sample_format);
        }
        return place(width, height);
    });
}

}  // namespace slabtone
