#include "platform/cores.hpp"

#include <windows.h>

#include <algorithm>
#include <bit>
#include <cstdint>

#include "platform/windows/job_limits.hpp"

namespace slabtone {

unsigned cores_of_process() {
    unsigned cores = 1;
    const DWORD active = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (active > 0) cores = active;
    // The affinity mask covers the process's processor group.
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask) &&
        process_mask != 0) {
        cores = std::min(cores, static_cast<unsigned>(std::popcount(process_mask)));
    }
    // A job's hard cap on CPU time, as containers and batch systems set it.
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate{};
    if (::QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation, &rate, sizeof rate,
                                    nullptr)) {
        if (const auto cap = cores_under_cpu_cap(rate, active > 0 ? active : cores)) {
            cores = std::min(cores, *cap);
        }
    }
    return std::max(cores, 1u);
}

// Windows has no per-process limit on open files that a run could meet.
std::optional<std::uint64_t> spare_descriptors() {
    return std::nullopt;
}

}  // namespace slabtone
