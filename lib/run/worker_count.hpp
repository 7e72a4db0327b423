// How many slices to convert at once: one per usable core, as long as the
// memory there is holds them all.
#pragma once

#include <cstdint>

#include "platform/cores.hpp"
#include "platform/memory_limits.hpp"

namespace slabtone {

// How many workers `spare` descriptors leave room for.
unsigned workers_for_descriptors(std::uint64_t spare) noexcept;

// Memory one worker takes beside its slice's buffers: its stack, the
// reader's block cache, the writer's gathering buffer and the tables.
std::uint64_t worker_overhead() noexcept;

// As many workers as there are cores for (and slices), but no more than
// `need_per_worker` bytes each fit into the smallest of the room under the
// address-space limit, the room under the cgroup's limit and the available
// memory; never fewer than one.
unsigned workers_that_fit(std::uint64_t need_per_worker, const MemoryLimits& limits, unsigned cores,
                          std::uint64_t slices);

// What `workers` slices converted at once may hold together.
std::uint64_t shared_capacity(const MemoryLimits& limits, unsigned workers,
                              std::uint64_t alone) noexcept;

}  // namespace slabtone
