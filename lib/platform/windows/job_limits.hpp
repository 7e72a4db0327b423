// What the limits of a job object mean for a run. A job is how Windows
// limits a group of processes (batch systems, containers): its memory
// limits play the part of RLIMIT_AS and of a cgroup's limit, its CPU rate
// cap the part of a cgroup's CPU quota. Plain functions of what
// QueryInformationJobObject reports, so any values can be tested.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "platform/memory_limits.hpp"

namespace slabtone {

// The job's limit per process becomes the address-space limit (it counts
// what a process commits, `limits.mapped`), the job's own limit the
// cgroup's, with the room this process leaves under it (the job's other
// processes are not seen from here).
void apply_job_memory_limits(const JOBOBJECT_EXTENDED_LIMIT_INFORMATION& job, MemoryLimits& limits);

// The cores a hard CPU rate cap keeps busy on `processors` processors,
// rounded up; nullopt without a hard cap.
std::optional<unsigned> cores_under_cpu_cap(const JOBOBJECT_CPU_RATE_CONTROL_INFORMATION& rate,
                                            unsigned processors);

}  // namespace slabtone
