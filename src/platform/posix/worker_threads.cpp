#include "worker_threads.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <new>

namespace slabtone {

namespace {

// A worker decodes with its tables on the heap; its stack needs little.
// Sanitizers make frames much larger.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kStackSize = std::size_t{8} << 20;
#else
constexpr std::size_t kStackSize = std::size_t{256} << 10;
#endif

std::size_t page_size() noexcept {
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

}  // namespace

std::size_t WorkerThreads::footprint() noexcept {
    return kStackSize + page_size();
}

struct WorkerThreads::Thread {
    pthread_t id{};
    void* stack = nullptr;
    std::size_t stack_size = 0;
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
    const std::size_t size = footprint();
    for (unsigned i = 0; i < count; ++i) {
        if (!may_start_thread()) break;
        void* stack = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (stack == MAP_FAILED) break;
        // The lowest page guards against running off the stack.
        ::mprotect(stack, page_size(), PROT_NONE);
        auto* thread = new (std::nothrow) Thread{{}, stack, size, i, this};
        pthread_attr_t attributes;
        bool started = thread != nullptr && ::pthread_attr_init(&attributes) == 0;
        if (started) {
            started = ::pthread_attr_setstack(&attributes, stack, size) == 0 &&
                      ::pthread_create(&thread->id, &attributes, Thread::run, thread) == 0;
            ::pthread_attr_destroy(&attributes);
        }
        if (!started) {
            delete thread;
            ::munmap(stack, size);
            break;
        }
        threads_.push_back(thread);
    }
    return static_cast<unsigned>(threads_.size());
}

void WorkerThreads::join() noexcept {
    for (Thread* thread : threads_) {
        ::pthread_join(thread->id, nullptr);
        ::munmap(thread->stack, thread->stack_size);
        delete thread;
    }
    threads_.clear();
}

}  // namespace slabtone
