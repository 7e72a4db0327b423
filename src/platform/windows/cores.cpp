#include "cores.hpp"

#include <windows.h>

#include <algorithm>
#include <bit>

namespace slabtone {

namespace {

// A job object's hard cap on CPU time, as the cores it keeps busy, rounded
// up: containers and batch systems on Windows limit a process this way.
std::optional<unsigned> job_cap_cores(unsigned processors) {
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate{};
    if (!::QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation, &rate,
                                     sizeof rate, nullptr)) {
        return std::nullopt;  // no job, or no such control
    }
    const DWORD wanted = JOB_OBJECT_CPU_RATE_CONTROL_ENABLE | JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP;
    if ((rate.ControlFlags & wanted) != wanted || rate.CpuRate == 0) return std::nullopt;
    // CpuRate is the share of every processor in hundredths of a percent.
    const std::uint64_t time = std::uint64_t{rate.CpuRate} * processors;
    return static_cast<unsigned>(std::max<std::uint64_t>((time + 9999) / 10000, 1));
}

}  // namespace

unsigned usable_cores() {
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
    if (const auto cap = job_cap_cores(active > 0 ? active : cores)) cores = std::min(cores, *cap);
    return std::max(cores, 1u);
}

// Windows has no per-process limit on open files that a run could meet.
std::optional<std::uint64_t> spare_descriptors() {
    return std::nullopt;
}

}  // namespace slabtone
