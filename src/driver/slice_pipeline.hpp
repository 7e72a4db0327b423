// Reads and processes the slices of a range ahead on worker threads, and
// hands their results to the calling thread strictly in slice order.
//
// Reading and decoding a slice is independent of every other slice; only
// the description record passes from slice to slice, so each worker waits
// for the slice before to apply its fields before it applies its own. A
// failing slice stops the start of any later slice; the slices before it
// still come out in order, then its failure. So does a slice whose memory
// or file descriptors ran short beside the others: it comes out as a
// shortage, for the caller to convert alone; and a slice whose file is not
// a regular file (a pipe, a device), which may give its bytes only once: no
// worker reads it, it comes out unread for the caller to read alone.
//
// A worker allocates nothing outside its slice's error handling: the
// outcomes live in slots made when the pipeline starts, so that running
// out of memory, which this code exists for, is a shortage like any other
// and never ends the process.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "description_record.hpp"
#include "failure.hpp"
#include "files.hpp"
#include "gray_tiff.hpp"
#include "slice_conversion.hpp"
#include "worker_threads.hpp"

namespace slabtone {

// Job: one per worker, kept while the pipeline runs; it processes a read
// slice with the record as the slices before left it (its own fields
// applied):
//   typename Job::Result Job::process(const ReadSlice&, const DescriptionRecord&)
template <class Job>
class SlicePipeline {
  public:
    using Result = typename Job::Result;

    struct Outcome {
        std::optional<Result> result;
        DescriptionRecord record;  // as this slice left it
        std::exception_ptr error;
        // A buffer or a descriptor could not be had while other slices held
        // theirs.
        bool shortage = false;
        // Not a regular file: left for the caller to read, alone.
        bool unread = false;
        // Read after an earlier slice failed: never taken.
        bool skipped = false;
        bool ready() const {
            return result.has_value() || error != nullptr || shortage || unread || skipped;
        }
    };

    // Starts up to `workers` threads; those that cannot be started are
    // done without (see started()).
    SlicePipeline(std::int64_t first, std::int64_t last, unsigned workers,
                  const DescriptionRecord& record,
                  const std::function<std::unique_ptr<Job>()>& make_job)
        : last_(last),
          next_to_start_(first),
          next_to_commit_(first),
          resolved_(first - 1),
          // Each worker holds one slice; at most one more waits finished.
          ahead_(workers + 1),
          outcomes_(static_cast<std::size_t>(ahead_)),
          record_(record) {
        for (unsigned i = 0; i < workers; ++i) jobs_.push_back(make_job());
        started_ = threads_.start(workers, [this](unsigned i) { work(*jobs_[i]); });
    }

    ~SlicePipeline() { stop(); }

    // The number of worker threads that started; with none, take() would
    // wait forever.
    unsigned started() const { return started_; }

    // The outcome of `slice` (taken in order, from the first on), once its
    // worker is done with it.
    Outcome take(std::int64_t slice) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return slice < next_to_start_ && outcome(slice).ready(); });
        Outcome done = std::move(outcome(slice));
        outcome(slice) = Outcome();
        next_to_commit_ = slice + 1;
        changed_.notify_all();
        return done;
    }

    // Stops the workers (after the slice each is on) and waits for them;
    // outcomes not taken are dropped with their memory.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        threads_.join();
        for (Outcome& slot : outcomes_) slot = Outcome();
        jobs_.clear();
    }

  private:
    // Slices next_to_commit_ .. next_to_start_ - 1 are in flight, fewer
    // than ahead_ of them: each has a slot of its own.
    Outcome& outcome(std::int64_t slice) {
        return outcomes_[static_cast<std::size_t>((slice % ahead_ + ahead_) % ahead_)];
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
            }
            process(slice, job, buffers);
        }
    }

    // Reads the slice, waits for the slices before to pass on the record,
    // and processes it.
    void read_and_process(std::int64_t slice, Job& job, ReaderBuffers& buffers, Outcome& result) {
        ReadSlice read = read_slice(slice, buffers);
        bool resolved = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(
                lock, [&] { return stopping_ || failed_at_ < slice || resolved_ == slice - 1; });
            if (resolved_ == slice - 1) {
                apply_description(read.description, record_);
                result.record = record_;
                resolved_ = slice;
                resolved = true;
            }
        }
        changed_.notify_all();
        // Unresolved, an earlier slice failed: this one is never taken.
        if (resolved) result.result = job.process(read, result.record);
        result.skipped = !resolved;
        buffers.rows = std::move(read.gray.rows);
    }

    void process(std::int64_t slice, Job& job, ReaderBuffers& buffers) {
        Outcome result;
        try {
            if (is_regular_file(input_name(slice))) {
                read_and_process(slice, job, buffers, result);
            } else {
                result.unread = true;
            }
        } catch (const Shortage&) {
            result.shortage = true;
        } catch (const std::bad_alloc&) {
            result.shortage = true;
        } catch (...) {
            result.error = std::current_exception();
        }
        if (result.shortage) buffers = ReaderBuffers();  // room for the others
        {
            std::lock_guard lock(mutex_);
            if (result.error || result.shortage || result.unread) {
                failed_at_ = std::min(failed_at_, slice);
            }
            outcome(slice) = std::move(result);
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Job>> jobs_;
    const std::int64_t last_;
    std::int64_t next_to_start_;
    std::int64_t next_to_commit_;
    std::int64_t resolved_;  // the last slice whose fields are in record_
    std::int64_t failed_at_ = std::numeric_limits<std::int64_t>::max();
    const std::int64_t ahead_;
    std::vector<Outcome> outcomes_;
    DescriptionRecord record_;
    bool stopping_ = false;
    unsigned started_ = 0;
    WorkerThreads threads_;  // last: joined before anything above goes
};

}  // namespace slabtone
