// The cores this process may keep busy, and the files it may still open:
// what the system allows it, read once when a run starts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace slabtone {

// The number of cores this process may run on: those of its affinity mask,
// and no more than its cgroup's CPU quota (Windows: its job's CPU rate cap)
// keeps busy; or the number force_usable_cores set.
unsigned usable_cores();

// From now on usable_cores() says `cores` whatever the system says (tests:
// a run with workers on a machine of one core); nullopt asks the system
// again.
void force_usable_cores(std::optional<unsigned> cores) noexcept;

// What the system says, without force_usable_cores.
unsigned cores_of_process();

// The cores that the CPU quota of the process's cgroup (and of those above
// it) keeps busy, rounded up, read under `root`; nullopt without a quota.
std::optional<unsigned> cpu_quota_cores(const std::filesystem::path& root);

// File descriptors the process may still open under RLIMIT_NOFILE;
// nullopt without a limit (always on Windows).
std::optional<std::uint64_t> spare_descriptors();

}  // namespace slabtone
