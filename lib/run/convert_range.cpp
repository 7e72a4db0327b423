// The conversion of a range: each slice converted into its 8-bit file laid
// out in memory by whichever thread read it, and stored by the calling
// thread in slice order.
#include <cstdint>
#include <exception>
#include <mutex>
#include <vector>

#include "common/saturating.hpp"
#include "convert/byte_slice_writer.hpp"
#include "convert/run_parameters.hpp"
#include "run/name_collisions.hpp"
#include "run/slice_run.hpp"
#include "slabtone/slabtone.hpp"

namespace slabtone {

namespace {

// Memory of stored slices (files and 8-bit images), handed back for later
// slices.
class SpareFiles {
  public:
    // Memory too short to keep the buffer is no failure: it goes.
    void put(ByteBuffer file) noexcept {
        if (file.data() == nullptr) return;
        std::lock_guard lock(mutex_);
        try {
            files_.push_back(std::move(file));
        } catch (const std::bad_alloc&) {
        }
    }
    ByteBuffer take() {
        std::lock_guard lock(mutex_);
        if (files_.empty()) return {};
        ByteBuffer file = std::move(files_.back());
        files_.pop_back();
        return file;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        files_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<ByteBuffer> files_;
};

class ConversionJob {
  public:
    using Result = ConvertedSlice;

    ConversionJob(const RunParameters& run, SpareFiles& spare) : run_(run), spare_(spare) {}

    ConvertedSlice process(const ReadSlice& slice, const DescriptionRecord& record) {
        // The file of a slice stored earlier; an 8-bit image of its own is
        // needed only when memory is short for the file.
        if (buffers_.file.data() == nullptr) buffers_.file = spare_.take();
        return finish_slice(slice, record, run_, buffers_);
    }

    void release_memory() {
        buffers_ = ConversionBuffers();
        spare_.clear();
    }

  private:
    const RunParameters& run_;
    SpareFiles& spare_;
    ConversionBuffers buffers_;
};
static_assert(SliceJob<ConversionJob>);

// What a worker holds for one slice: its rows, strip buffers and 8-bit
// image, the file laid out in memory, and one more finished file waiting
// to be stored.
std::uint64_t conversion_need(const SliceShape& shape) {
    const std::uint64_t file =
        saturating_add(saturating_mul(shape.width, shape.height), saturating_mul(16, shape.height));
    return saturating_add(shape.reading_need(), saturating_mul(3, file));
}

}  // namespace

void convert_range(const ConvertRequest& request,
                   const std::function<void(const StoredSlice&)>& stored) {
    const RunParameters run = run_parameters_of(request);
    // A run with an input pattern reads its slices with the open reader.
    SliceNames names = slice_names_of(request.input_pattern, request.output_pattern);
    const StackFolder folder(request.folder, std::move(names));
    if (folder.names().patterned()) check_outputs_spare_inputs(folder, run.sta_ly, run.dst_ly);
    SpareFiles spare;
    const SliceRunJobs<ConversionJob> jobs{
        [&] { return std::make_unique<ConversionJob>(run, spare); }, conversion_need};
    // What the caller's `stored` throws stops the run as it is, whatever it
    // is: the run takes a SliceError from storing as a reason to try the
    // slice again alone.
    struct CallerStopped {};
    std::exception_ptr stopped;
    try {
        run_slices_in_order(folder, run.sta_ly, run.dst_ly, jobs,
                            [&](std::int64_t slice, ConvertedSlice&& converted) {
                                store_converted(folder, converted);
                                const StoredSlice done{slice, converted.input_name,
                                                       converted.output_name,
                                                       converted.kind == SampleKind::floating};
                                spare.put(std::move(converted.file));
                                spare.put(std::move(converted.bytes));
                                if (!stored) return;
                                try {
                                    stored(done);
                                } catch (...) {
                                    stopped = std::current_exception();
                                    throw CallerStopped{};
                                }
                            });
    } catch (const CallerStopped&) {
        std::rethrow_exception(stopped);
    }
}

}  // namespace slabtone
