// The cores this process may keep busy, and the files it may still open:
// what the system allows it, read once when a run starts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace slabtone {

// The number of cores this process may run on: those of its affinity mask,
// and no more than its cgroup's CPU quota (Windows: its job's CPU rate cap)
// keeps busy.
unsigned usable_cores();

// The cores that the CPU quota of the process's cgroup (and of those above
// it) keeps busy, rounded up, read under `root`; nullopt without a quota.
std::optional<unsigned> cpu_quota_cores(const std::filesystem::path& root);

// File descriptors the process may still open under RLIMIT_NOFILE;
// nullopt without a limit (always on Windows).
std::optional<std::uint64_t> spare_descriptors();

}  // namespace slabtone
