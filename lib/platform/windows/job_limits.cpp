#include "platform/windows/job_limits.hpp"

#include <algorithm>
#include <cstdint>

namespace slabtone {

void apply_job_memory_limits(const JOBOBJECT_EXTENDED_LIMIT_INFORMATION& job,
                             MemoryLimits& limits) {
    const DWORD flags = job.BasicLimitInformation.LimitFlags;
    if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) limits.address_space = job.ProcessMemoryLimit;
    if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY) {
        limits.cgroup_limit = job.JobMemoryLimit;
        limits.cgroup_room =
            job.JobMemoryLimit > limits.mapped ? job.JobMemoryLimit - limits.mapped : 0;
    }
}

std::optional<unsigned> cores_under_cpu_cap(const JOBOBJECT_CPU_RATE_CONTROL_INFORMATION& rate,
                                            unsigned processors) {
    const DWORD wanted = JOB_OBJECT_CPU_RATE_CONTROL_ENABLE | JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP;
    if ((rate.ControlFlags & wanted) != wanted || rate.CpuRate == 0) return std::nullopt;
    // CpuRate is the share of all processors in hundredths of a percent:
    // time for 1.5 processors keeps two busy half the time each.
    const std::uint64_t time = std::uint64_t{rate.CpuRate} * processors;
    return static_cast<unsigned>(std::max<std::uint64_t>((time + 9999) / 10000, 1));
}

}  // namespace slabtone
