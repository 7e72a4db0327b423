#include "memory_limits.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

struct Hierarchy {
    fs::path base;  // where the hierarchy is mounted
    std::string path;
    const char* limit_file;
    const char* usage_file;
};

// The memory hierarchy of /proc/self/cgroup: "ID:memory:/path" for cgroup
// v1, "0::/path" for v2. v1's memory controller is preferred: on a hybrid
// system the v2 hierarchy has no memory controller.
std::optional<Hierarchy> memory_hierarchy(const fs::path& root) {
    std::ifstream in(root / "proc/self/cgroup");
    std::string line;
    std::optional<Hierarchy> unified;
    while (std::getline(in, line)) {
        const auto first = line.find(':');
        const auto second = line.find(':', first == std::string::npos ? 0 : first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            unified = Hierarchy{root / "sys/fs/cgroup", path, "memory.max", "memory.current"};
            continue;
        }
        std::istringstream list(controllers);
        std::string controller;
        while (std::getline(list, controller, ',')) {
            if (controller == "memory") {
                return Hierarchy{root / "sys/fs/cgroup/memory", path, "memory.limit_in_bytes",
                                 "memory.usage_in_bytes"};
            }
        }
    }
    return unified;
}

// The limits of the cgroup and of every cgroup above it up to the root of
// the hierarchy. In a cgroup namespace the process's own cgroup is the
// mounted root, and its path does not exist below it.
void read_cgroup(const fs::path& root, MemoryLimits& limits) {
    const std::optional<Hierarchy> hierarchy = memory_hierarchy(root);
    if (!hierarchy) return;
    fs::path relative = fs::path(hierarchy->path).relative_path();
    std::error_code error;
    if (!fs::is_directory(hierarchy->base / relative, error)) relative.clear();
    for (;;) {
        const fs::path folder = hierarchy->base / relative;
        const std::optional<std::uint64_t> limit = read_number(folder / hierarchy->limit_file);
        if (limit) {
            limits.cgroup_limit = smaller(limits.cgroup_limit, limit);
            const std::uint64_t usage = read_number(folder / hierarchy->usage_file).value_or(0);
            limits.cgroup_room = smaller(limits.cgroup_room, *limit > usage ? *limit - usage : 0);
        }
        if (relative.empty()) break;
        relative = relative.has_parent_path() ? relative.parent_path() : fs::path();
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

MemoryLimits current_memory_limits() {
    MemoryLimits limits = read_memory_limits("/");
    struct rlimit address {};
    if (::getrlimit(RLIMIT_AS, &address) == 0 && address.rlim_cur != RLIM_INFINITY) {
        limits.address_space = address.rlim_cur;
    }
    return limits;
}

}  // namespace slabtone
