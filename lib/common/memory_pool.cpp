#include "common/memory_pool.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "platform/memory_limits.hpp"
#include "slabtone/slabtone.hpp"

namespace slabtone {

namespace {

// Address space that the rest of a slice's work takes beside the counted
// buffers: the reader's block cache, the quantisation table, libtiff's own
// records, the heap's slack.
constexpr std::uint64_t kAddressReserve = std::uint64_t{2} << 20;
constexpr std::align_val_t kAlignment{64};

std::atomic<std::uint64_t> g_held{0};
std::atomic<std::uint64_t> g_budget_override{0};
std::atomic<std::uint64_t> g_shared{0};           // 0: none
std::atomic<std::uint64_t> g_refused_request{0};  // 0: none
std::atomic<std::uint64_t> g_shared_requests{0};

std::uint64_t system_capacity() noexcept {
    std::uint64_t capacity = std::numeric_limits<std::uint64_t>::max();
    try {
        const MemoryLimits limits = current_memory_limits();
        if (limits.physical) capacity = *limits.physical;
        if (limits.cgroup_limit) capacity = std::min(capacity, *limits.cgroup_limit);
        if (auto room = limits.address_room()) {
            capacity = std::min(capacity, *room > kAddressReserve ? *room - kAddressReserve : 0);
        }
        if (limits.physical) return capacity;
    } catch (...) {
        // Unreadable limits: the physical memory alone.
    }
    if (const auto physical = installed_memory()) capacity = std::min(capacity, *physical);
    return capacity;
}

}  // namespace

std::uint64_t alone_capacity() noexcept {
    const std::uint64_t forced = g_budget_override.load(std::memory_order_relaxed);
    if (forced != 0) return forced;
    static const std::uint64_t capacity = system_capacity();
    return capacity;
}

void settle_process_memory() noexcept {
    map_large_blocks_alone();
    alone_capacity();
}

void set_memory_budget(std::optional<std::uint64_t> bytes) noexcept {
    g_budget_override.store(bytes ? std::max<std::uint64_t>(*bytes, 1) : 0,
                            std::memory_order_relaxed);
}

void set_shared_capacity(std::optional<std::uint64_t> bytes) noexcept {
    g_shared.store(bytes ? std::max<std::uint64_t>(*bytes, 1) : 0, std::memory_order_relaxed);
}

void refuse_shared_request(std::optional<std::uint64_t> n) noexcept {
    g_shared_requests.store(0, std::memory_order_relaxed);
    g_refused_request.store(n ? *n : 0, std::memory_order_relaxed);
}

std::uint64_t memory_capacity() noexcept {
    const std::uint64_t shared = g_shared.load(std::memory_order_relaxed);
    const std::uint64_t alone = alone_capacity();
    return shared != 0 ? std::min(shared, alone) : alone;
}

std::uint64_t memory_held() noexcept {
    return g_held.load(std::memory_order_relaxed);
}

bool take_memory(std::uint64_t bytes) noexcept {
    const std::uint64_t refused = g_refused_request.load(std::memory_order_relaxed);
    if (refused != 0 && g_shared.load(std::memory_order_relaxed) != 0 &&
        g_shared_requests.fetch_add(1, std::memory_order_relaxed) + 1 == refused) {
        return false;
    }
    const std::uint64_t capacity = memory_capacity();
    std::uint64_t held = g_held.load(std::memory_order_relaxed);
    do {
        if (held > capacity || bytes > capacity - held) return false;
    } while (!g_held.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
    return true;
}

void give_back_memory(std::uint64_t bytes) noexcept {
    g_held.fetch_sub(bytes, std::memory_order_relaxed);
}

bool memory_fits(std::uint64_t count, std::uint64_t unit) noexcept {
    if (unit != 0 && count > std::numeric_limits<std::uint64_t>::max() / unit) return false;
    const std::uint64_t capacity = memory_capacity();
    const std::uint64_t held = memory_held();
    return held <= capacity && count * unit <= capacity - held;
}

bool PooledBuffer::reserve(std::size_t bytes, std::size_t keep) noexcept {
    if (bytes <= capacity_) return true;
    keep = std::min(keep, capacity_);
    if (keep == 0) release();
    if (!take_memory(bytes)) return false;
    auto* larger = static_cast<std::uint8_t*>(::operator new(bytes, kAlignment, std::nothrow));
    if (larger == nullptr) {
        give_back_memory(bytes);
        return false;
    }
    if (keep > 0) std::memcpy(larger, data_, keep);
    release();
    data_ = larger;
    capacity_ = bytes;
    return true;
}

void PooledBuffer::release() noexcept {
    if (data_ == nullptr) return;
    ::operator delete(data_, kAlignment);
    give_back_memory(capacity_);
    data_ = nullptr;
    capacity_ = 0;
}

}  // namespace slabtone
