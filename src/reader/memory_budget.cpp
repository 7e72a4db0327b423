#include "memory_budget.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <limits>

namespace slabtone {

namespace {

std::atomic<std::uint64_t> g_override{0};

std::uint64_t system_budget() noexcept {
    std::uint64_t budget = std::numeric_limits<std::uint64_t>::max();
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long page_size = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0) {
        budget = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
    }
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        budget = std::min<std::uint64_t>(budget, limit.rlim_cur);
    }
    return budget;
}

}  // namespace

std::uint64_t memory_budget() noexcept {
    std::uint64_t forced = g_override.load(std::memory_order_relaxed);
    if (forced != 0) return forced;
    static const std::uint64_t budget = system_budget();
    return budget;
}

void set_memory_budget(std::optional<std::uint64_t> bytes) noexcept {
    g_override.store(bytes ? std::max<std::uint64_t>(*bytes, 1) : 0, std::memory_order_relaxed);
}

std::optional<std::uint64_t> budgeted_bytes(std::uint64_t count, std::uint64_t unit) noexcept {
    if (unit != 0 && count > std::numeric_limits<std::uint64_t>::max() / unit) return std::nullopt;
    std::uint64_t bytes = count * unit;
    if (bytes > memory_budget()) return std::nullopt;
    return bytes;
}

}  // namespace slabtone
