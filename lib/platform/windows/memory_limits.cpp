#include "platform/memory_limits.hpp"

#include <cstdint>

#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include "platform/windows/job_limits.hpp"

namespace slabtone {

namespace {

// What the process has committed (its commit charge, PagefileUsage): what a
// job's memory limit counts.
std::uint64_t committed_now() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PagefileUsage;
}

}  // namespace

// Windows has no address-space limit and no cgroups; the memory limits of a
// job object the process runs in take their parts.
MemoryLimits current_memory_limits() {
    MemoryLimits limits;
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (::GlobalMemoryStatusEx(&status)) {
        limits.physical = status.ullTotalPhys;
        limits.available = status.ullAvailPhys;
    }
    limits.mapped = committed_now();
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
    if (::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                    nullptr)) {
        apply_job_memory_limits(job, limits);
    }
    return limits;
}

std::optional<std::uint64_t> installed_memory() noexcept {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status) || status.ullTotalPhys == 0) return std::nullopt;
    return status.ullTotalPhys;
}

// The Windows heap already hands large blocks to the system on their own and
// gives them back when freed.
void map_large_blocks_alone() noexcept {}

}  // namespace slabtone
