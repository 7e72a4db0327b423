// Worker threads on both systems: POSIX threads, which Windows builds take
// from MinGW's winpthreads rather than bare _beginthreadex. The destructors
// of thread_local objects are kept under winpthreads' keys, and with threads
// it did not start, deleting its key when the process exits could wait for
// ever (8 of 60 runs of a test with many short-lived workers hung so under
// Wine; none with these). Only the stack differs (thread_stack.hpp).
#include "platform/worker_threads.hpp"

#include <pthread.h>

#include <atomic>
#include <new>

#include "platform/thread_stack.hpp"

namespace slabtone {

namespace {

std::atomic<long long> g_starts_left{-1};  // -1: no limit
std::atomic<unsigned long long> g_started{0};

}  // namespace

struct WorkerThreads::Thread {
    pthread_t id{};
    ThreadStack stack;
    unsigned index = 0;
    WorkerThreads* owner = nullptr;

    static void* run(void* argument) {
        auto* thread = static_cast<Thread*>(argument);
        thread->owner->run_body(thread->index);
        return nullptr;
    }
};

std::size_t WorkerThreads::footprint() noexcept {
    return thread_footprint();
}

void limit_thread_starts(std::optional<unsigned> count) noexcept {
    g_starts_left.store(count ? static_cast<long long>(*count) : -1);
}

unsigned long long worker_threads_started() noexcept {
    return g_started.load();
}

bool WorkerThreads::may_start_thread() noexcept {
    long long left = g_starts_left.load();
    while (left >= 0) {
        if (left == 0) return false;
        if (g_starts_left.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}

unsigned WorkerThreads::start(unsigned count, std::function<void(unsigned)> body) {
    body_ = std::move(body);
    try {
        threads_.reserve(threads_.size() + count);
    } catch (const std::bad_alloc&) {
        return static_cast<unsigned>(threads_.size());
    }
    for (unsigned i = 0; i < count; ++i) {
        if (!may_start_thread()) break;
        const std::optional<ThreadStack> stack = make_thread_stack();
        if (!stack) break;
        auto* thread = new (std::nothrow) Thread{{}, *stack, i, this};
        pthread_attr_t attributes;
        bool started = thread != nullptr && ::pthread_attr_init(&attributes) == 0;
        if (started) {
            started = (stack->base != nullptr
                           ? ::pthread_attr_setstack(&attributes, stack->base, stack->size)
                           : ::pthread_attr_setstacksize(&attributes, stack->size)) == 0 &&
                      ::pthread_create(&thread->id, &attributes, Thread::run, thread) == 0;
            ::pthread_attr_destroy(&attributes);
        }
        if (!started) {
            delete thread;
            release_thread_stack(*stack);
            break;
        }
        threads_.push_back(thread);
        g_started.fetch_add(1);
    }
    return static_cast<unsigned>(threads_.size());
}

void WorkerThreads::join() noexcept {
    for (Thread* thread : threads_) {
        ::pthread_join(thread->id, nullptr);
        release_thread_stack(thread->stack);
        delete thread;
    }
    threads_.clear();
}

// The bodies report through their own results; nothing may escape a
// thread: an exception that did would end the process here (noexcept).
void WorkerThreads::run_body(unsigned index) noexcept {
    body_(index);
}

}  // namespace slabtone
