#include "slice_loop.hpp"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "atomic_file.hpp"
#include "failure.hpp"
#include "slice_conversion.hpp"

namespace slabtone {

namespace {

// The outcome of one slice, waiting to be committed.
struct Outcome {
    std::optional<ConvertedSlice> converted;
    std::exception_ptr error;
    bool ready() const { return converted.has_value() || error != nullptr; }
};

class SlicePipeline {
  public:
    SlicePipeline(const RunParameters& run, unsigned workers)
        : run_(run),
          next_to_start_(run.sta_ly),
          next_to_commit_(run.sta_ly),
          resolved_(std::int64_t{run.sta_ly} - 1),
          // Each worker holds one slice; at most one more waits finished.
          ahead_(workers + 1) {
        for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
    }

    ~SlicePipeline() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_) thread.join();
    }

    // The outcome of `slice`, once its worker is done with it; the next
    // slice may then be started.
    Outcome take(std::int64_t slice) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return slice < next_to_start_ && outcome(slice).ready(); });
        Outcome done = std::move(outcome(slice));
        outcomes_.pop_front();
        next_to_commit_ = slice + 1;
        changed_.notify_all();
        return done;
    }

    // Gives the memory of a stored file back for a later slice.
    void recycle(ByteBuffer file) {
        std::lock_guard lock(mutex_);
        spare_files_.push_back(std::move(file));
    }

  private:
    Outcome& outcome(std::int64_t slice) {
        return outcomes_[static_cast<std::size_t>(slice - next_to_commit_)];
    }

    void work() {
        ReaderBuffers buffers;
        ConversionBuffers conversion;
        for (;;) {
            std::int64_t slice = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || next_to_start_ > run_.dst_ly ||
                           next_to_start_ >= failed_at_ ||
                           next_to_start_ - next_to_commit_ < ahead_;
                });
                if (stopping_ || next_to_start_ > run_.dst_ly || next_to_start_ >= failed_at_)
                    return;
                slice = next_to_start_++;
                outcomes_.emplace_back();
                if (!spare_files_.empty()) {
                    conversion.file = std::move(spare_files_.back());
                    spare_files_.pop_back();
                }
            }
            convert(slice, buffers, conversion);
        }
    }

    void convert(std::int64_t slice, ReaderBuffers& buffers, ConversionBuffers& conversion) {
        Outcome result;
        try {
            ReadSlice read = read_slice(slice, buffers);
            // The record passes from slice to slice in order: wait until the
            // slice before has applied its fields.
            std::optional<DescriptionRecord> record;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || failed_at_ < slice || resolved_ == slice - 1;
                });
                if (resolved_ == slice - 1) {
                    apply_description(read.description, record_);
                    record = record_;
                    resolved_ = slice;
                }
            }
            changed_.notify_all();
            // Without a record, an earlier slice failed: this one is never
            // committed.
            if (record) result.converted = finish_slice(read, *record, run_, conversion);
            buffers.rows = std::move(read.gray.rows);
        } catch (...) {
            result.error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            if (result.error) failed_at_ = std::min(failed_at_, slice);
            if (!result.ready())
                result.error = std::make_exception_ptr(std::logic_error("skipped"));
            outcome(slice) = std::move(result);
        }
        changed_.notify_all();
    }

    const RunParameters& run_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> threads_;
    std::deque<Outcome> outcomes_;
    std::vector<ByteBuffer> spare_files_;  // slices next_to_commit_ .. next_to_start_ - 1
    std::int64_t next_to_start_;
    std::int64_t next_to_commit_;
    std::int64_t resolved_;  // the last slice whose fields are in record_
    std::int64_t failed_at_ = std::numeric_limits<std::int64_t>::max();
    std::int64_t ahead_;
    DescriptionRecord record_;
    bool stopping_ = false;
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
        const std::uint64_t slices = std::uint64_t(std::int64_t{run.dst_ly} - run.sta_ly + 1);
        const auto workers = static_cast<unsigned>(std::min<std::uint64_t>(usable_cores(), slices));
        SlicePipeline pipeline(run, workers);
        // 64-bit so that a range ending at the largest slice number ends.
        for (std::int64_t slice = run.sta_ly; slice <= run.dst_ly; ++slice) {
            Outcome outcome = pipeline.take(slice);
            if (outcome.error) std::rethrow_exception(outcome.error);
            ConvertedSlice& converted = *outcome.converted;
            if (!store_file_atomically(converted.output_name, converted.file.bytes())) {
                fail(converted.output_name, Failure::cannot_write_file);
            }
            std::fprintf(out, "%s(16bit) -> %s(8bit)\r", converted.input_name.c_str(),
                         converted.output_name.c_str());
            // The line ends in a carriage return only: flush it so that a
            // terminal shows each slice as it is done.
            std::fflush(out);
            pipeline.recycle(std::move(converted.file));
        }
    }
    std::fprintf(out, "\nfinish\n");
}

}  // namespace slabtone
