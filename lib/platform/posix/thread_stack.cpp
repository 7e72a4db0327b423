// Each worker's stack is mapped here and unmapped when the thread is joined:
// glibc would keep the stacks of ended threads mapped for reuse, and a
// process that has stopped its workers is to hold what it held before.
#include "platform/thread_stack.hpp"

#include <sys/mman.h>
#include <unistd.h>

namespace slabtone {

namespace {

// A worker decodes with its tables on the heap; its stack needs little.
// Sanitizers make frames much larger.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kStackSize = std::size_t{8} << 20;
#else
constexpr std::size_t kStackSize = std::size_t{256} << 10;
#endif

// A hint some systems take for memory that will be a thread's stack.
#if defined(MAP_STACK)
constexpr int kStackFlag = MAP_STACK;
#else
constexpr int kStackFlag = 0;
#endif

std::size_t page_size() noexcept {
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

}  // namespace

std::size_t thread_footprint() noexcept {
    return kStackSize + page_size();
}

std::optional<ThreadStack> make_thread_stack() noexcept {
    const std::size_t size = thread_footprint();
    void* stack = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | kStackFlag, -1, 0);
    if (stack == MAP_FAILED) return std::nullopt;
    // The lowest page guards against running off the stack.
    ::mprotect(stack, page_size(), PROT_NONE);
    return ThreadStack{stack, size};
}

void release_thread_stack(const ThreadStack& stack) noexcept {
    if (stack.base != nullptr) ::munmap(stack.base, stack.size);
}

}  // namespace slabtone
