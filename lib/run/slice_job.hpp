// What a run does with each slice: a job reads nothing itself; it takes a
// slice read and decoded, with the description record as the slices before
// left it (this slice's own fields applied), and makes a result that the
// run hands to the calling thread in slice order.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>

#include "convert/description_record.hpp"
#include "convert/slice_conversion.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone {

template <class Job>
concept SliceJob = requires(Job job, const ReadSlice& slice, const DescriptionRecord& record) {
    typename Job::Result;
    requires std::movable<typename Job::Result>;
    // May throw SliceError (the slice's failure) and MemoryShortage.
    { job.process(slice, record) } -> std::same_as<typename Job::Result>;
    // Drops the memory the job keeps for later slices.
    job.release_memory();
};

// One job per worker, and one for the slices converted alone.
template <SliceJob Job>
struct SliceRunJobs {
    std::function<std::unique_ptr<Job>()> make_job;
    // Memory one worker needs for a slice of this shape.
    std::function<std::uint64_t(const SliceShape&)> need;
};

}  // namespace slabtone
