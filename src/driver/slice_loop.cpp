#include "slice_loop.hpp"

#include <sched.h>

#include <mutex>

#include "byte_slice_writer.hpp"
#include "slice_pipeline.hpp"

namespace slabtone {

namespace {

// Memory of stored files, handed back for later slices.
class SpareFiles {
  public:
    void put(ByteBuffer file) {
        std::lock_guard lock(mutex_);
        files_.push_back(std::move(file));
    }
    ByteBuffer take() {
        std::lock_guard lock(mutex_);
        if (files_.empty()) return {};
        ByteBuffer file = std::move(files_.back());
        files_.pop_back();
        return file;
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
        if (buffers_.file.size() == 0) buffers_.file = spare_.take();
        return finish_slice(slice, record, run_, buffers_);
    }

  private:
    const RunParameters& run_;
    SpareFiles& spare_;
    ConversionBuffers buffers_;
};

}  // namespace

unsigned usable_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    return 1;
}

void run_slices(const RunParameters& run, std::FILE* out) {
    if (run.sta_ly <= run.dst_ly) {
        const std::int64_t first = run.sta_ly;
        const std::int64_t last = run.dst_ly;
        const auto workers =
            static_cast<unsigned>(std::min<std::int64_t>(usable_cores(), last - first + 1));
        SpareFiles spare;
        SlicePipeline<ConversionJob> pipeline(
            first, last, workers, [&] { return std::make_unique<ConversionJob>(run, spare); });
        // 64-bit so that a range ending at the largest slice number ends.
        for (std::int64_t slice = first; slice <= last; ++slice) {
            auto outcome = pipeline.take(slice);
            if (outcome.error) std::rethrow_exception(outcome.error);
            ConvertedSlice& converted = *outcome.result;
            store_byte_slice(converted.output_name, converted.file.bytes());
            std::fprintf(out, "%s(16bit) -> %s(8bit)\r", converted.input_name.c_str(),
                         converted.output_name.c_str());
            // The line ends in a carriage return only: flush it so that a
            // terminal shows each slice as it is done.
            std::fflush(out);
            spare.put(std::move(converted.file));
        }
    }
    std::fprintf(out, "\nfinish\n");
}

}  // namespace slabtone
