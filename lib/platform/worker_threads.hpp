// Worker threads that are a resource like memory: one that cannot be
// started is no failure, the caller goes on with those it has.
//
// Each thread runs on a small stack of its own, given back when the thread
// is joined, so that once the workers are gone the process holds exactly
// what it held before they came (glibc would keep the stacks of ended
// threads mapped for reuse, so the POSIX build maps them itself).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace slabtone {

class WorkerThreads {
  public:
    // Address space each thread takes: its stack and a guard page.
    static std::size_t footprint() noexcept;

    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads() { join(); }

    // Starts up to `count` threads, thread i running body(i); returns how
    // many started (the first ones, none after the first that could not).
    unsigned start(unsigned count, std::function<void(unsigned)> body);
    // Waits for every thread and gives back its stack.
    void join() noexcept;

  private:
    // One started thread as the system knows it: its handle, its stack.
    struct Thread;

    // Takes one start from the allowance limit_thread_starts sets; false
    // when none is left.
    static bool may_start_thread() noexcept;
    // body(index) on a started thread; ends the process if it throws.
    void run_body(unsigned index) noexcept;

    std::function<void(unsigned)> body_;
    std::vector<Thread*> threads_;
};

// Lets at most `count` threads start from now on (tests); nullopt lifts it.
void limit_thread_starts(std::optional<unsigned> count) noexcept;

// How many worker threads this process has started so far (tests).
unsigned long long worker_threads_started() noexcept;

}  // namespace slabtone
