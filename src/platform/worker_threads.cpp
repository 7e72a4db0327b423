// What the worker threads of every system share: the allowance of starts a
// test may set, the room to keep track of the threads, the body's call.
#include "worker_threads.hpp"

#include <atomic>
#include <new>

namespace slabtone {

namespace {

std::atomic<long long> g_starts_left{-1};  // -1: no limit

}  // namespace

void limit_thread_starts(std::optional<unsigned> count) noexcept {
    g_starts_left.store(count ? static_cast<long long>(*count) : -1);
}

bool WorkerThreads::may_start_thread() noexcept {
    long long left = g_starts_left.load();
    while (left >= 0) {
        if (left == 0) return false;
        if (g_starts_left.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}

bool WorkerThreads::make_room(unsigned count, std::function<void(unsigned)> body) {
    body_ = std::move(body);
    try {
        threads_.reserve(threads_.size() + count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The bodies report through their own results; nothing may escape a
// thread: an exception that did would end the process here (noexcept).
void WorkerThreads::run_body(unsigned index) noexcept {
    body_(index);
}

}  // namespace slabtone
