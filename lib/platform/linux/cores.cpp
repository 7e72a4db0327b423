#include "platform/cores.hpp"

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>

namespace slabtone {

unsigned cores_of_process() {
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
