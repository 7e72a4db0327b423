// Reads and processes the slices of a range ahead on worker threads, and
// hands their outcomes to the calling thread strictly in slice order.
//
// Reading and decoding a slice is independent of every other slice; only
// the description record passes from slice to slice, so each worker waits
// for the slice before to apply its fields before it applies its own. A
// slice that does not come out processed (it failed, its memory or file
// descriptors ran short beside the others, or it is no regular file and
// may give its bytes only once) stops the start of any later slice; the
// slices before it still come out in order, then its outcome.
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

#include "common/failure.hpp"
#include "convert/description_record.hpp"
#include "convert/slice_conversion.hpp"
#include "convert/stack_folder.hpp"
#include "platform/files.hpp"
#include "platform/worker_threads.hpp"
#include "run/slice_job.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone {

enum class SliceOutcome {
    pending,    // its worker is not done with it
    processed,  // `result` and `record` hold it
    failed,     // `error` holds the slice's own failure
    // A buffer or a descriptor could not be had while other slices held
    // theirs: for the caller to convert alone.
    short_of_resources,
    unread,   // not a regular file: for the caller to read, alone
    skipped,  // read after an earlier slice stopped the run: never taken
};

template <SliceJob Job>
class SlicePipeline {
  public:
    using Result = typename Job::Result;

    struct Outcome {
        SliceOutcome state = SliceOutcome::pending;
        std::optional<Result> result;
        DescriptionRecord record;  // as this slice left it
        std::exception_ptr error;
    };

    // Starts up to `workers` threads; those that cannot be started are
    // done without (see started()).
    SlicePipeline(const StackFolder& folder, std::int64_t first, std::int64_t last,
                  unsigned workers, const DescriptionRecord& record,
                  const std::function<std::unique_ptr<Job>()>& make_job)
        : folder_(folder),
          last_(last),
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
        changed_.wait(lock, [&] {
            return slice < next_to_start_ && slot(slice).state != SliceOutcome::pending;
        });
        Outcome done = std::move(slot(slice));
        slot(slice) = Outcome();
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
        for (Outcome& outcome : outcomes_) outcome = Outcome();
        jobs_.clear();
    }

  private:
    Outcome& slot(std::int64_t slice) {
        return outcomes_[static_cast<std::size_t>((slice % ahead_ + ahead_) % ahead_)];
    }

    bool may_start() const {
        return next_to_start_ <= last_ && next_to_start_ < stopped_at_ &&
               next_to_start_ - next_to_commit_ < ahead_;
    }

    void work(Job& job) {
        ReaderBuffers buffers;
        for (;;) {
            std::int64_t slice = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || next_to_start_ > last_ || next_to_start_ >= stopped_at_ ||
                           may_start();
                });
                if (stopping_ || !may_start()) return;
                slice = next_to_start_++;
            }
            process(slice, job, buffers);
        }
    }

    // Reads the slice, waits for the slices before to pass on the record,
    // and processes it.
    void read_and_process(std::int64_t slice, Job& job, ReaderBuffers& buffers, Outcome& outcome) {
        ReadSlice read = read_slice(folder_, slice, buffers);
        bool resolved = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(
                lock, [&] { return stopping_ || stopped_at_ < slice || resolved_ == slice - 1; });
            if (resolved_ == slice - 1) {
                apply_description(read.description, record_);
                outcome.record = record_;
                resolved_ = slice;
                resolved = true;
            }
        }
        changed_.notify_all();
        // Unresolved, an earlier slice stopped the run: this one is never
        // taken.
        if (resolved) outcome.result = job.process(read, outcome.record);
        outcome.state = resolved ? SliceOutcome::processed : SliceOutcome::skipped;
        buffers.rows = std::move(read.gray.rows);
    }

    void process(std::int64_t slice, Job& job, ReaderBuffers& buffers) {
        Outcome outcome;
        try {
            if (is_regular_file(folder_.input_path(slice))) {
                read_and_process(slice, job, buffers, outcome);
            } else {
                outcome.state = SliceOutcome::unread;
            }
        } catch (const Shortage&) {
            outcome.state = SliceOutcome::short_of_resources;
        } catch (const std::bad_alloc&) {
            outcome.state = SliceOutcome::short_of_resources;
        } catch (...) {
            outcome.state = SliceOutcome::failed;
            outcome.error = std::current_exception();
        }
        if (outcome.state == SliceOutcome::short_of_resources) {
            buffers = ReaderBuffers();  // room for the others
        }
        {
            std::lock_guard lock(mutex_);
            if (outcome.state != SliceOutcome::processed &&
                outcome.state != SliceOutcome::skipped) {
                stopped_at_ = std::min(stopped_at_, slice);
            }
            slot(slice) = std::move(outcome);
        }
        changed_.notify_all();
    }

    const StackFolder& folder_;
    std::vector<std::unique_ptr<Job>> jobs_;

    // The slices and their counters, all guarded by mutex_. Slices
    // next_to_commit_ .. next_to_start_ - 1 are in flight, at most ahead_
    // of them, so that each has a slot of its own (slot(slice)), free until
    // its worker fills it. resolved_ is the last slice whose fields are in
    // record_: next_to_commit_ - 1 <= resolved_ < next_to_start_. No slice
    // at or after stopped_at_ (the first that did not come out processed)
    // starts.
    std::mutex mutex_;
    std::condition_variable changed_;
    const std::int64_t last_;
    std::int64_t next_to_start_;
    std::int64_t next_to_commit_;
    std::int64_t resolved_;
    std::int64_t stopped_at_ = std::numeric_limits<std::int64_t>::max();
    const std::int64_t ahead_;
    std::vector<Outcome> outcomes_;
    DescriptionRecord record_;
    bool stopping_ = false;

    unsigned started_ = 0;
    WorkerThreads threads_;  // last: joined before anything above goes
};

}  // namespace slabtone
