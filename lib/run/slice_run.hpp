// Every slice of a range, in order, on as many workers as there are cores
// and memory for, with an outcome that depends on neither.
//
// Workers convert slices ahead while the calling thread commits them in
// order. When a worker cannot have the memory or a file descriptor for its
// slice (others hold theirs), the workers are stopped once the slices
// before it are committed, and the slice is converted alone on the calling
// thread: with nothing else in memory and no other thread, exactly as a run
// on one core converts every slice; the run then goes on with one worker
// fewer. A slice whose file is not a regular file (a pipe a decompressor
// feeds, a device) is read once only, alone, as on one core. Only a slice
// that fails alone fails the run, so the files, the messages and the exit
// status are those of a one-core run, whatever the cores, the memory, or
// the threads that could be started.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "common/failure.hpp"
#include "common/memory_pool.hpp"
#include "convert/description_record.hpp"
#include "convert/slice_conversion.hpp"
#include "convert/stack_folder.hpp"
#include "platform/cores.hpp"
#include "platform/files.hpp"
#include "platform/memory_limits.hpp"
#include "run/slice_job.hpp"
#include "run/slice_pipeline.hpp"
#include "run/worker_count.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone {

// Commits each slice's result on the calling thread, in order:
//   commit(slice number, Job::Result&&)
// which may throw SliceError (storing failed) or anything else, which stops
// the run and comes out of run(). run() throws the SliceError of the first
// slice that fails.
template <SliceJob Job, class Commit>
class SliceRun {
  public:
    SliceRun(const StackFolder& folder, std::int64_t first, std::int64_t last,
             const SliceRunJobs<Job>& jobs, Commit& commit)
        : folder_(folder), first_(first), last_(last), next_(first), jobs_(jobs), commit_(commit) {}

    void run() {
        if (first_ > last_) return;
        unsigned workers = planned_workers();
        alone_job_ = jobs_.make_job();
        while (next_ <= last_) {
            if (workers > 0) {
                switch (run_on_workers(workers)) {
                    case WorkersStopped::at_end:
                        return;
                    case WorkersStopped::none_started:
                        workers = 0;
                        break;
                    case WorkersStopped::short_of_resources:
                        // Fewer at once from here on, down to none: as many
                        // again would meet the same shortage at the next slice.
                        --workers;
                        break;
                    case WorkersStopped::slice_left_unread:
                        break;
                }
            }
            run_next_alone();
        }
    }

  private:
    using Outcome = typename SlicePipeline<Job>::Outcome;

    // Why the workers stopped.
    enum class WorkersStopped {
        at_end,              // every slice is committed
        none_started,        // no worker could be had
        short_of_resources,  // the next slice is to be converted alone
        slice_left_unread,   // the next slice is no regular file: alone too
    };

    // What the workers may hold together, while they run.
    class SharedCapacity {
      public:
        explicit SharedCapacity(std::uint64_t bytes) { set_shared_capacity(bytes); }
        SharedCapacity(const SharedCapacity&) = delete;
        SharedCapacity& operator=(const SharedCapacity&) = delete;
        ~SharedCapacity() { set_shared_capacity(std::nullopt); }
    };

    // Workers are an extra: anything short while preparing them leaves none,
    // and the run goes on alone.
    unsigned planned_workers() {
        const unsigned cores = usable_cores();
        if (cores <= 1 || last_ <= first_) return 0;
        try {
            limits_ = current_memory_limits();
            // Only a regular file may be read once for its shape and again
            // for its samples.
            const std::string probed = folder_.input_path(first_);
            const std::optional<SliceShape> shape = !is_regular_file(probed) ? std::nullopt
                                                    : folder_.names().open_reader
                                                        ? probe_open_tiff(probed)
                                                        : probe_gray_tiff(probed);
            unsigned workers = workers_that_fit(shape ? jobs_.need(*shape) : 0, limits_, cores,
                                                static_cast<std::uint64_t>(last_ - first_ + 1));
            if (const auto spare = spare_descriptors()) {
                workers = std::min(workers, workers_for_descriptors(*spare));
            }
            return workers;
        } catch (const std::exception&) {
            return 0;
        }
    }

    // Commits slices from next_ on as `workers` workers process them, until
    // the end of the range or a slice that is to be converted alone.
    WorkersStopped run_on_workers(unsigned workers) {
        const SharedCapacity shared(shared_capacity(limits_, workers, alone_capacity()));
        std::optional<SlicePipeline<Job>> pipeline;
        try {
            pipeline.emplace(folder_, next_, last_, workers, record_, jobs_.make_job);
        } catch (const std::bad_alloc&) {
        }
        if (!pipeline || pipeline->started() == 0) return WorkersStopped::none_started;
        for (; next_ <= last_; ++next_) {
            Outcome outcome = pipeline->take(next_);
            switch (outcome.state) {
                case SliceOutcome::processed:
                    break;
                case SliceOutcome::failed:
                    std::rethrow_exception(outcome.error);
                case SliceOutcome::unread:
                    return WorkersStopped::slice_left_unread;
                case SliceOutcome::short_of_resources:
                case SliceOutcome::pending:  // never taken
                case SliceOutcome::skipped:  // never taken: a slice before it stopped the run
                    return WorkersStopped::short_of_resources;
            }
            try {
                commit_(next_, std::move(*outcome.result));
            } catch (const SliceError&) {
                // Storing beside other slices in memory: it may have been
                // memory that failed. Alone, it tells.
                return WorkersStopped::short_of_resources;
            }
            record_ = outcome.record;
        }
        return WorkersStopped::at_end;
    }

    // The next slice on the calling thread, with no worker running. Memory
    // the calling thread keeps from its last slice may be what is missing:
    // a shortage with any memory held is tried again with none. A file that
    // may not be read twice goes without that memory from the start.
    void run_next_alone() {
        if (!is_regular_file(folder_.input_path(next_))) {
            release_alone_memory();
            convert_alone();
            return;
        }
        const bool held_memory = memory_held() > 0;
        try {
            convert_alone();
        } catch (const MemoryShortage&) {
            if (!held_memory) throw;
            release_alone_memory();
            convert_alone();
        }
    }

    void convert_alone() {
        ReadSlice read = read_slice(folder_, next_, alone_buffers_);
        DescriptionRecord after = record_;
        apply_description(read.description, after);
        auto result = alone_job_->process(read, after);
        alone_buffers_.rows = std::move(read.gray.rows);
        commit_(next_, std::move(result));
        record_ = after;
        ++next_;
    }

    void release_alone_memory() {
        alone_buffers_ = ReaderBuffers();
        alone_job_->release_memory();
    }

    const StackFolder& folder_;
    const std::int64_t first_;
    const std::int64_t last_;
    std::int64_t next_;  // the next slice to commit
    const SliceRunJobs<Job>& jobs_;
    Commit& commit_;
    // The record as the committed slices left it.
    DescriptionRecord record_;
    MemoryLimits limits_;
    std::unique_ptr<Job> alone_job_;
    ReaderBuffers alone_buffers_;
};

template <SliceJob Job, class Commit>
void run_slices_in_order(const StackFolder& folder, std::int64_t first, std::int64_t last,
                         const SliceRunJobs<Job>& jobs, Commit&& commit) {
    SliceRun<Job, std::remove_reference_t<Commit>> run(folder, first, last, jobs, commit);
    run.run();
}

}  // namespace slabtone
