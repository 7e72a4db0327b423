#include "worker_count.hpp"

#include <sched.h>

#include <algorithm>
#include <limits>

#include "worker_threads.hpp"

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

unsigned usable_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    return 1;
}

std::uint64_t worker_overhead() noexcept {
    return WorkerThreads::footprint() + (std::uint64_t{1} << 20);
}

unsigned workers_that_fit(std::uint64_t need_per_worker, const MemoryLimits& limits, unsigned cores,
                          std::uint64_t slices) {
    const std::uint64_t most = std::min<std::uint64_t>(std::max(cores, 1u), slices);
    const std::uint64_t each = need_per_worker + worker_overhead();
    const std::uint64_t fit = smallest_room(limits) / each;
    return static_cast<unsigned>(
        std::clamp<std::uint64_t>(fit, 1, std::max<std::uint64_t>(most, 1)));
}

std::uint64_t shared_capacity(const MemoryLimits& limits, unsigned workers,
                              std::uint64_t alone) noexcept {
    const std::uint64_t overhead = std::uint64_t{workers} * worker_overhead();
    std::uint64_t capacity = alone > overhead ? alone - overhead : 0;
    if (limits.cgroup_room) capacity = std::min(capacity, *limits.cgroup_room);
    if (limits.available) capacity = std::min(capacity, *limits.available);
    return capacity;
}

}  // namespace slabtone
