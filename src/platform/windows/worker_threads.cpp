#include "worker_threads.hpp"

#include <pthread.h>

#include <cstdint>
#include <new>

namespace slabtone {

namespace {

// A worker decodes with its tables on the heap; its stack needs little.
constexpr std::size_t kStackSize = std::size_t{256} << 10;
constexpr std::size_t kPageSize = 4096;

}  // namespace

std::size_t WorkerThreads::footprint() noexcept {
    return kStackSize + kPageSize;
}

// Threads of MinGW's POSIX thread library (winpthreads), not bare
// _beginthreadex ones: the destructors of thread_local objects are kept
// under winpthreads' keys, and with threads it did not start, deleting its
// key when the process exits could wait for ever (8 of 60 runs of a test
// with many short-lived workers hung so under Wine; none with these). The
// stack size is passed on to the system, which frees the stack when the
// thread ends.
struct WorkerThreads::Thread {
    pthread_t id{};
    unsigned index = 0;
    WorkerThreads* owner = nullptr;

    static void* run(void* argument) {
        auto* thread = static_cast<Thread*>(argument);
        thread->owner->run_body(thread->index);
        return nullptr;
    }
};

unsigned WorkerThreads::start(unsigned count, std::function<void(unsigned)> body) {
    if (!make_room(count, std::move(body))) return static_cast<unsigned>(threads_.size());
    for (unsigned i = 0; i < count; ++i) {
        if (!may_start_thread()) break;
        auto* thread = new (std::nothrow) Thread{{}, i, this};
        pthread_attr_t attributes;
        bool started = thread != nullptr && ::pthread_attr_init(&attributes) == 0;
        if (started) {
            started = ::pthread_attr_setstacksize(&attributes, kStackSize) == 0 &&
                      ::pthread_create(&thread->id, &attributes, Thread::run, thread) == 0;
            ::pthread_attr_destroy(&attributes);
        }
        if (!started) {
            delete thread;
            break;
        }
        threads_.push_back(thread);
    }
    return static_cast<unsigned>(threads_.size());
}

void WorkerThreads::join() noexcept {
    for (Thread* thread : threads_) {
        ::pthread_join(thread->id, nullptr);
        delete thread;
    }
    threads_.clear();
}

}  // namespace slabtone
