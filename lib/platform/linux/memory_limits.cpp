#include "platform/memory_limits.hpp"

#include <cstdint>

#include <sys/resource.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace slabtone {

MemoryLimits current_memory_limits() {
    MemoryLimits limits = read_memory_limits("/");
    struct rlimit address {};
    if (::getrlimit(RLIMIT_AS, &address) == 0 && address.rlim_cur != RLIM_INFINITY) {
        limits.address_space = address.rlim_cur;
    }
    return limits;
}

std::optional<std::uint64_t> installed_memory() noexcept {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return std::nullopt;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

void map_large_blocks_alone() noexcept {
#if defined(__GLIBC__)
    ::mallopt(M_ARENA_MAX, 1);
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

}  // namespace slabtone
