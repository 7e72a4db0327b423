#include "cores.hpp"

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <sstream>

#include "cgroup.hpp"

namespace slabtone {

std::optional<unsigned> cpu_quota_cores(const std::filesystem::path& root) {
    const std::optional<CgroupFolders> folders = cgroup_folders(root, "cpu");
    if (!folders) return std::nullopt;
    std::optional<std::uint64_t> cores;
    for (const auto& folder : folders->way_up) {
        // v2: "quota period" or "max period"; v1: the quota (-1 for none)
        // and the period in two files.
        std::string quota_text, period_text;
        if (folders->v1) {
            quota_text = read_first_line(folder / "cpu.cfs_quota_us").value_or("");
            period_text = read_first_line(folder / "cpu.cfs_period_us").value_or("");
        } else {
            std::istringstream(read_first_line(folder / "cpu.max").value_or("")) >> quota_text >>
                period_text;
        }
        char* end = nullptr;
        const long long quota = std::strtoll(quota_text.c_str(), &end, 10);
        if (quota_text.empty() || *end != '\0' || quota <= 0) continue;
        const long long period = std::strtoll(period_text.c_str(), &end, 10);
        if (period_text.empty() || *end != '\0' || period <= 0) continue;
        // Time for 1.5 cores keeps two busy half the time each: round up.
        const std::uint64_t here =
            (static_cast<std::uint64_t>(quota) - 1) / static_cast<std::uint64_t>(period) + 1;
        cores = cores ? std::min(*cores, here) : here;
    }
    if (!cores) return std::nullopt;
    return static_cast<unsigned>(std::min<std::uint64_t>(*cores, 1u << 20));
}

unsigned usable_cores() {
    unsigned cores = 1;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        int count = CPU_COUNT(&set);
        if (count > 0) cores = static_cast<unsigned>(count);
    }
    try {
        if (const auto quota = cpu_quota_cores("/")) cores = std::min(cores, *quota);
    } catch (const std::exception&) {
        // Unreadable: the affinity alone.
    }
    return cores;
}

std::optional<std::uint64_t> spare_descriptors() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::nullopt;
    }
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr)
        return errno == EMFILE || errno == ENFILE ? std::optional<std::uint64_t>(0) : std::nullopt;
    std::uint64_t open = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') ++open;
    }
    ::closedir(folder);
    open = open > 0 ? open - 1 : 0;  // the folder's own descriptor
    return limit.rlim_cur > open ? limit.rlim_cur - open : 0;
}

}  // namespace slabtone
