// Reads and processes the slices of a range ahead on worker threads, and
// hands their results to the calling thread strictly in slice order.
//
// Reading and decoding a slice is independent of every other slice; only
// the description record passes from slice to slice, so each worker waits
// for the slice before to apply its fields before it applies its own. A
// failing slice stops the start of any later slice; the slices before it
// still come out in order, then its failure.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "description_record.hpp"
#include "gray_tiff.hpp"
#include "slice_conversion.hpp"

namespace slabtone {

// The number of cores this process may run on.
unsigned usable_cores();

// Job: one per worker, kept for the whole run; it processes a read slice
// with the record as the slices before left it:
//   typename Job::Result Job::process(const ReadSlice&, const DescriptionRecord&)
template <class Job>
class SlicePipeline {
  public:
    using Result = typename Job::Result;

    struct Outcome {
        std::optional<Result> result;
        std::exception_ptr error;
        bool ready() const { return result.has_value() || error != nullptr; }
    };

    SlicePipeline(std::int64_t first, std::int64_t last, unsigned workers,
                  const std::function<std::unique_ptr<Job>()>& make_job)
        : last_(last),
          next_to_start_(first),
          next_to_commit_(first),
          resolved_(first - 1),
          // Each worker holds one slice; at most one more waits finished.
          ahead_(workers + 1) {
        for (unsigned i = 0; i < workers; ++i) jobs_.push_back(make_job());
        for (unsigned i = 0; i < workers; ++i) {
            threads_.emplace_back([this, i] { work(*jobs_[i]); });
        }
    }

    ~SlicePipeline() { join(); }

    // The outcome of `slice` (taken in order, from the first on), once its
    // worker is done with it.
    Outcome take(std::int64_t slice) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return slice < next_to_start_ && outcome(slice).ready(); });
        Outcome done = std::move(outcome(slice));
        outcomes_.pop_front();
        next_to_commit_ = slice + 1;
        changed_.notify_all();
        return done;
    }

    // Stops the workers (after the slice each is on) and waits for them;
    // the jobs stay for the caller to collect what they gathered.
    void join() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_) {
            if (thread.joinable()) thread.join();
        }
    }

    const std::vector<std::unique_ptr<Job>>& jobs() const { return jobs_; }

  private:
    Outcome& outcome(std::int64_t slice) {
        return outcomes_[static_cast<std::size_t>(slice - next_to_commit_)];
    }

    bool may_start() const {
        return next_to_start_ <= last_ && next_to_start_ < failed_at_ &&
               next_to_start_ - next_to_commit_ < ahead_;
    }

    void work(Job& job) {
        ReaderBuffers buffers;
        for (;;) {
            std::int64_t slice = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || next_to_start_ > last_ || next_to_start_ >= failed_at_ ||
                           may_start();
                });
                if (!may_start() || stopping_) return;
                slice = next_to_start_++;
                outcomes_.emplace_back();
            }
            process(slice, job, buffers);
        }
    }

    void process(std::int64_t slice, Job& job, ReaderBuffers& buffers) {
        Outcome result;
        try {
            ReadSlice read = read_slice(slice, buffers);
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
            // Without a record an earlier slice failed: this one is never
            // taken.
            if (record) result.result = job.process(read, *record);
            buffers.rows = std::move(read.gray.rows);
        } catch (...) {
            result.error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            if (result.error) failed_at_ = std::min(failed_at_, slice);
            if (!result.ready()) {
                result.error = std::make_exception_ptr(std::logic_error("slice skipped"));
            }
            outcome(slice) = std::move(result);
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Job>> jobs_;
    std::vector<std::thread> threads_;
    std::deque<Outcome> outcomes_;  // slices next_to_commit_ .. next_to_start_ - 1
    const std::int64_t last_;
    std::int64_t next_to_start_;
    std::int64_t next_to_commit_;
    std::int64_t resolved_;  // the last slice whose fields are in record_
    std::int64_t failed_at_ = std::numeric_limits<std::int64_t>::max();
    const std::int64_t ahead_;
    DescriptionRecord record_;
    bool stopping_ = false;
};

}  // namespace slabtone
