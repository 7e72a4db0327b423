#include "thread_start_limit.hpp"

#include <atomic>

#include "worker_threads.hpp"

namespace slabtone {

namespace {

std::atomic<long long> g_starts_left{-1};  // -1: no limit

}  // namespace

bool may_start_thread() noexcept {
    long long left = g_starts_left.load();
    while (left >= 0) {
        if (left == 0) return false;
        if (g_starts_left.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}

void limit_thread_starts(std::optional<unsigned> count) noexcept {
    g_starts_left.store(count ? static_cast<long long>(*count) : -1);
}

}  // namespace slabtone
