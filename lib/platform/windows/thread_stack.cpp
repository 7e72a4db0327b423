// The system allocates each worker's stack from the size given, and frees it
// when the thread ends.
#include "platform/thread_stack.hpp"

namespace slabtone {

namespace {

// A worker decodes with its tables on the heap; its stack needs little.
constexpr std::size_t kStackSize = std::size_t{256} << 10;
constexpr std::size_t kPageSize = 4096;

}  // namespace

std::size_t thread_footprint() noexcept {
    return kStackSize + kPageSize;
}

std::optional<ThreadStack> make_thread_stack() noexcept {
    return ThreadStack{nullptr, kStackSize};
}

void release_thread_stack(const ThreadStack&) noexcept {}

}  // namespace slabtone
