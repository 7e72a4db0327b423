#include "run/worker_count.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/saturating.hpp"
#include "platform/worker_threads.hpp"

namespace slabtone {

namespace {

std::uint64_t smallest_room(const MemoryLimits& limits) {
    std::uint64_t room = std::numeric_limits<std::uint64_t>::max();
    if (auto address = limits.address_room()) room = std::min(room, *address);
    if (limits.cgroup_room) room = std::min(room, *limits.cgroup_room);
    if (limits.available) room = std::min(room, *limits.available);
    return room;
}

}  // namespace

unsigned workers_for_descriptors(std::uint64_t spare) noexcept {
    // Each worker holds its slice's file open; the calling thread holds the
    // file it stores, and one more may be open for a slice converted alone.
    return static_cast<unsigned>(
        std::min<std::uint64_t>(spare > 2 ? spare - 2 : 0, std::numeric_limits<unsigned>::max()));
}

std::uint64_t worker_overhead() noexcept {
    return WorkerThreads::footprint() + (std::uint64_t{1} << 20);
}

unsigned workers_that_fit(std::uint64_t need_per_worker, const MemoryLimits& limits, unsigned cores,
                          std::uint64_t slices) {
    const std::uint64_t most = std::min<std::uint64_t>(std::max(cores, 1u), slices);
    const std::uint64_t each = saturating_add(need_per_worker, worker_overhead());
    const std::uint64_t fit = smallest_room(limits) / each;
    return static_cast<unsigned>(
        std::clamp<std::uint64_t>(fit, 1, std::max<std::uint64_t>(most, 1)));
}

std::uint64_t shared_capacity(const MemoryLimits& limits, unsigned workers,
                              std::uint64_t alone) noexcept {
    const std::uint64_t overhead = saturating_mul(workers, worker_overhead());
    std::uint64_t capacity = alone > overhead ? alone - overhead : 0;
    if (limits.cgroup_room) capacity = std::min(capacity, *limits.cgroup_room);
    if (limits.available) capacity = std::min(capacity, *limits.available);
    return capacity;
}

}  // namespace slabtone
