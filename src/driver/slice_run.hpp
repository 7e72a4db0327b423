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

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "description_record.hpp"
#include "failure.hpp"
#include "files.hpp"
#include "gray_tiff.hpp"
#include "memory_pool.hpp"
#include "slice_conversion.hpp"
#include "slice_pipeline.hpp"
#include "worker_count.hpp"

namespace slabtone {

// Job, besides what SlicePipeline asks of it:
//   void Job::release_memory()  drops the memory it keeps for later slices.
template <class Job>
struct SliceRunJobs {
    std::function<std::unique_ptr<Job>()> make_job;
    // Memory one worker needs for a slice of this shape.
    std::function<std::uint64_t(const SliceShape&)> need;
};

// Commits each slice's result on the calling thread, in order:
//   commit(slice number, Job::Result&&), which may throw SliceError.
// Throws the SliceError of the first slice that fails.
template <class Job, class Commit>
void run_slices_in_order(std::int64_t first, std::int64_t last, const SliceRunJobs<Job>& jobs,
                         Commit&& commit) {
    if (first > last) return;
    // The slice record as the committed slices left it.
    DescriptionRecord record;
    std::int64_t next = first;

    // Workers are an extra: anything short while preparing them leaves
    // none, and the run goes on alone.
    const unsigned cores = usable_cores();
    MemoryLimits limits;
    unsigned workers = 0;
    if (cores > 1 && last > first) {
        try {
            limits = current_memory_limits();
            // Only a regular file may be read once for its shape and again
            // for its samples.
            const std::string probed = input_name(first);
            const std::optional<SliceShape> shape =
                is_regular_file(probed) ? probe_gray_tiff(probed) : std::nullopt;
            workers = workers_that_fit(shape ? jobs.need(*shape) : 0, limits, cores,
                                       static_cast<std::uint64_t>(last - first + 1));
            if (const auto spare = spare_descriptors()) {
                workers = std::min(workers, workers_for_descriptors(*spare));
            }
        } catch (const std::exception&) {
            workers = 0;
        }
    }

    std::unique_ptr<Job> alone_job = jobs.make_job();
    ReaderBuffers alone_buffers;
    auto convert_alone = [&] {
        ReadSlice read = read_slice(next, alone_buffers);
        DescriptionRecord after = record;
        apply_description(read.description, after);
        auto result = alone_job->process(read, after);
        alone_buffers.rows = std::move(read.gray.rows);
        commit(next, std::move(result));
        record = after;
        ++next;
    };

    while (next <= last) {
        if (workers > 0) {
            // What the workers may hold together, while they run.
            struct SharedCapacity {
                explicit SharedCapacity(std::uint64_t bytes) { set_shared_capacity(bytes); }
                ~SharedCapacity() { set_shared_capacity(std::nullopt); }
            } shared(shared_capacity(limits, workers, alone_capacity()));
            bool alone = false;
            bool short_of_something = false;
            std::optional<SlicePipeline<Job>> pipeline;
            try {
                pipeline.emplace(next, last, workers, record, jobs.make_job);
            } catch (const std::bad_alloc&) {
            }
            if (!pipeline || pipeline->started() == 0) workers = 0;
            for (; workers > 0 && next <= last; ++next) {
                auto outcome = pipeline->take(next);
                if (outcome.shortage || outcome.unread) {
                    alone = true;
                    short_of_something = outcome.shortage;
                    break;
                }
                if (outcome.error) std::rethrow_exception(outcome.error);
                try {
                    commit(next, std::move(*outcome.result));
                } catch (const SliceError&) {
                    // Storing beside other slices in memory: it may have
                    // been memory that failed. Alone, it tells.
                    alone = true;
                    short_of_something = true;
                    break;
                }
                record = outcome.record;
            }
            pipeline.reset();  // the workers stop, and every slice they held goes
            if (!alone && workers > 0) continue;
            if (next > last) break;
            // Fewer at once from here on, down to none: starting as many
            // again would meet the same shortage at the next slice.
            if (short_of_something) --workers;
        }
        // Alone. Memory the calling thread keeps from its last slice may be
        // what is missing: a shortage with any memory held is tried again
        // with none. A file that may not be read twice goes without that
        // memory from the start.
        auto release_memory = [&] {
            alone_buffers = ReaderBuffers();
            alone_job->release_memory();
        };
        if (!is_regular_file(input_name(next))) {
            release_memory();
            convert_alone();
            continue;
        }
        const bool held_memory = memory_held() > 0;
        try {
            convert_alone();
        } catch (const MemoryShortage&) {
            if (!held_memory) throw;
            release_memory();
            convert_alone();
        }
    }
}

}  // namespace slabtone
