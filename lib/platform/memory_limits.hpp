// What the system lets this process hold: its address-space limit, its
// cgroup's memory limit, the machine's memory. On Linux read from /proc and
// /sys (or from a folder laid out like them, for tests); on Windows asked of
// the system and of the job object the process may run in. Only ever read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace slabtone {

struct MemoryLimits {
    // The soft RLIMIT_AS, when one is set (Windows: a job's limit on what
    // one process commits).
    std::optional<std::uint64_t> address_space;
    // What the process had mapped when the limits were read (VmSize;
    // Windows: what it had committed).
    std::uint64_t mapped = 0;
    // The smallest memory limit of the process's cgroup and the cgroups
    // above it (cgroup v2 memory.max, v1 memory.limit_in_bytes), and the
    // smallest room left under one of them (limit less usage). Windows: the
    // memory limit of the process's job.
    std::optional<std::uint64_t> cgroup_limit;
    std::optional<std::uint64_t> cgroup_room;
    // MemTotal and MemAvailable of /proc/meminfo (Windows: the physical
    // memory, and what of it is available).
    std::optional<std::uint64_t> physical;
    std::optional<std::uint64_t> available;

    // Room left under the address-space limit.
    std::optional<std::uint64_t> address_room() const noexcept;
};

// Everything but `address_space`, from files laid out as Linux's under
// `root` ("/" for the running system). Plain file reading, on any system.
MemoryLimits read_memory_limits(const std::filesystem::path& root);

// The limits of this process now.
MemoryLimits current_memory_limits();

// The machine's memory as the system reports it, without /proc.
std::optional<std::uint64_t> installed_memory() noexcept;

// Has the C library map every large block on its own (given back whole when
// freed) and keep one heap for all threads (rather than reserving a heap's
// address space per thread), so that what the process holds follows what
// it holds now, not what its threads did.
void map_large_blocks_alone() noexcept;

}  // namespace slabtone
