#include "slice_loop.hpp"

#include <mutex>
#include <vector>

#include "byte_slice_writer.hpp"
#include "saturating.hpp"
#include "slice_run.hpp"

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

// What a worker holds for one slice: its rows, strip buffers and 8-bit
// image, the file laid out in memory, and one more finished file waiting
// to be stored.
std::uint64_t conversion_need(const SliceShape& shape) {
    const std::uint64_t file =
        saturating_add(saturating_mul(shape.width, shape.height), saturating_mul(16, shape.height));
    return saturating_add(shape.reading_need(), saturating_mul(3, file));
}

}  // namespace

void run_slices(const RunParameters& run, std::FILE* out, bool end_line_on_failure) {
    SpareFiles spare;
    SliceRunJobs<ConversionJob> jobs{[&] { return std::make_unique<ConversionJob>(run, spare); },
                                     conversion_need};
    bool line_open = false;
    try {
        run_slices_in_order(
            run.sta_ly, run.dst_ly, jobs, [&](std::int64_t, ConvertedSlice&& converted) {
                store_converted(converted);
                std::fprintf(out, "%s(16bit) -> %s(8bit)\r", converted.input_name.c_str(),
                             converted.output_name.c_str());
                // The line ends in a carriage return only: flush it so that a
                // terminal shows each slice as it is done.
                std::fflush(out);
                line_open = true;
                spare.put(std::move(converted.file));
                spare.put(std::move(converted.bytes));
            });
    } catch (...) {
        if (end_line_on_failure && line_open) {
            std::fputc('\n', out);
            std::fflush(out);
        }
        throw;
    }
    std::fprintf(out, "\nfinish\n");
}

}  // namespace slabtone
