// The library's test hooks (memory budget, thread starts, cores), each set
// for the life of an object: a test that stops half-way, as a failed ASSERT
// does, leaves nothing set for the tests after it.
#pragma once

#include <cstdint>
#include <optional>

#include "common/memory_pool.hpp"
#include "platform/cores.hpp"
#include "platform/worker_threads.hpp"

namespace slabtone::test {

template <auto set, class Value>
class ScopedHook {
  public:
    explicit ScopedHook(Value value) { set(value); }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;
    ~ScopedHook() { set(std::nullopt); }
};

using ScopedMemoryBudget = ScopedHook<set_memory_budget, std::uint64_t>;
using ScopedThreadStarts = ScopedHook<limit_thread_starts, unsigned>;
using ScopedUsableCores = ScopedHook<force_usable_cores, unsigned>;

}  // namespace slabtone::test
