// The limits that Linux shows in files: /proc/self/status, /proc/meminfo and
// the cgroup hierarchies under /sys/fs/cgroup. Plain file reading, built on
// every system so that the layouts can be tested anywhere.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/cores.hpp"
#include "platform/memory_limits.hpp"
#include "platform/proc_and_cgroup/cgroup.hpp"

namespace slabtone {

namespace {

namespace fs = std::filesystem;

// cgroup v1 writes "no limit" as a huge page-rounded number.
constexpr std::uint64_t kUnlimited = std::uint64_t{1} << 62;

std::optional<std::uint64_t> read_number(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    if (!(in >> text)) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > (kUnlimited - 9) / 10) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value >= kUnlimited) return std::nullopt;  // also "max", above
    return value;
}

// "Key:   123 kB" lines of /proc/meminfo and /proc/self/status, in bytes.
std::optional<std::uint64_t> read_kilobytes(const fs::path& file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + ":") != 0) continue;
        std::istringstream fields(line.substr(key.size() + 1));
        std::uint64_t kilobytes = 0;
        if (fields >> kilobytes) return kilobytes * 1024;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> smaller(std::optional<std::uint64_t> a,
                                     std::optional<std::uint64_t> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

// A "key value" line of a memory.stat file.
std::optional<std::uint64_t> read_stat(const fs::path& file, const std::string& key) {
    std::ifstream in(file);
    std::string name;
    std::uint64_t value = 0;
    while (in >> name >> value) {
        if (name == key) return value;
    }
    return std::nullopt;
}

// The limits of the cgroup and of every cgroup above it. Usage counts the
// page cache of the files the group wrote and read, and the inactive part
// of it is given back on demand: a container that has written a few GiB of
// slices is not short of memory for that.
void read_cgroup(const fs::path& root, MemoryLimits& limits) {
    const std::optional<CgroupFolders> folders = cgroup_folders(root, "memory");
    if (!folders) return;
    const char* limit_file = folders->v1 ? "memory.limit_in_bytes" : "memory.max";
    const char* usage_file = folders->v1 ? "memory.usage_in_bytes" : "memory.current";
    const char* inactive_key = folders->v1 ? "total_inactive_file" : "inactive_file";
    for (const fs::path& folder : folders->way_up) {
        const std::optional<std::uint64_t> limit = read_number(folder / limit_file);
        if (!limit) continue;
        limits.cgroup_limit = smaller(limits.cgroup_limit, limit);
        std::uint64_t usage = read_number(folder / usage_file).value_or(0);
        const std::uint64_t inactive = read_stat(folder / "memory.stat", inactive_key).value_or(0);
        usage = usage > inactive ? usage - inactive : 0;
        limits.cgroup_room = smaller(limits.cgroup_room, *limit > usage ? *limit - usage : 0);
    }
}

}  // namespace

std::optional<std::uint64_t> MemoryLimits::address_room() const noexcept {
    if (!address_space) return std::nullopt;
    return *address_space > mapped ? *address_space - mapped : 0;
}

MemoryLimits read_memory_limits(const std::filesystem::path& root) {
    MemoryLimits limits;
    limits.mapped = read_kilobytes(root / "proc/self/status", "VmSize").value_or(0);
    limits.physical = read_kilobytes(root / "proc/meminfo", "MemTotal");
    limits.available = read_kilobytes(root / "proc/meminfo", "MemAvailable");
    read_cgroup(root, limits);
    return limits;
}

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

}  // namespace slabtone
