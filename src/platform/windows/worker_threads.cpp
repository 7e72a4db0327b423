#include "worker_threads.hpp"

#include <process.h>
#include <windows.h>

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

// The system frees a thread's stack when the thread ends.
struct WorkerThreads::Thread {
    HANDLE handle = nullptr;
    unsigned index = 0;
    WorkerThreads* owner = nullptr;

    static unsigned __stdcall run(void* argument) {
        auto* thread = static_cast<Thread*>(argument);
        thread->owner->run_body(thread->index);
        return 0;
    }
};

unsigned WorkerThreads::start(unsigned count, std::function<void(unsigned)> body) {
    if (!make_room(count, std::move(body))) return static_cast<unsigned>(threads_.size());
    for (unsigned i = 0; i < count; ++i) {
        if (!may_start_thread()) break;
        auto* thread = new (std::nothrow) Thread{nullptr, i, this};
        if (thread == nullptr) break;
        // _beginthreadex sets up the C runtime for the thread; the size
        // reserves the stack instead of the executable's default.
        const std::uintptr_t handle = ::_beginthreadex(nullptr, kStackSize, Thread::run, thread,
                                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (handle == 0) {
            delete thread;
            break;
        }
        thread->handle = reinterpret_cast<HANDLE>(handle);
        threads_.push_back(thread);
    }
    return static_cast<unsigned>(threads_.size());
}

void WorkerThreads::join() noexcept {
    for (Thread* thread : threads_) {
        ::WaitForSingleObject(thread->handle, INFINITE);
        ::CloseHandle(thread->handle);
        delete thread;
    }
    threads_.clear();
}

}  // namespace slabtone
