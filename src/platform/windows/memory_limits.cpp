#include "memory_limits.hpp"

#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

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

// Windows has no address-space limit; the nearest things are the memory
// limits of a job object the process runs in: a limit per process, which
// counts what it commits as RLIMIT_AS counts what it maps, and a limit for
// the whole job, which plays the part of a cgroup's.
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
        const DWORD flags = job.BasicLimitInformation.LimitFlags;
        if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) {
            limits.address_space = job.ProcessMemoryLimit;
        }
        if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY) {
            limits.cgroup_limit = job.JobMemoryLimit;
            // The job's other processes are not seen from here: the room is
            // what this process leaves under the limit.
            limits.cgroup_room =
                job.JobMemoryLimit > limits.mapped ? job.JobMemoryLimit - limits.mapped : 0;
        }
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
