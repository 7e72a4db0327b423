// The stack a worker thread runs on: the one part of starting a thread that
// differs between the systems (see worker_threads.cpp).
#pragma once

#include <cstddef>
#include <optional>

namespace slabtone {

struct ThreadStack {
    // Where the stack lies, or null when the system is to allocate one of
    // `size` bytes itself (and free it when the thread ends).
    void* base = nullptr;
    std::size_t size = 0;
};

// Address space each thread takes: its stack and a guard page.
std::size_t thread_footprint() noexcept;

// A stack for one more thread; nullopt when the memory cannot be had.
std::optional<ThreadStack> make_thread_stack() noexcept;

// Gives back a stack once its thread has been joined.
void release_thread_stack(const ThreadStack& stack) noexcept;

}  // namespace slabtone
