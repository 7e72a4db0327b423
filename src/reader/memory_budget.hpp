// How much memory one request may take before it counts as a failed
// allocation. A TIFF file can declare any image size in a few bytes; on a
// system that overcommits, allocating such an image "succeeds" and the
// process is killed later when the pages are touched. Comparing each request
// with the physical memory (or the address-space limit, when one is set)
// turns that into the reader's allocation message instead.
#pragma once

#include <cstdint>
#include <optional>

namespace slabtone {

// The largest single request in bytes that is attempted.
std::uint64_t memory_budget() noexcept;

// Sets a lower budget (fuzzers and tests); nullopt restores the default.
void set_memory_budget(std::optional<std::uint64_t> bytes) noexcept;

// count * unit in bytes, or nullopt when it overflows or exceeds the budget.
std::optional<std::uint64_t> budgeted_bytes(std::uint64_t count, std::uint64_t unit) noexcept;

}  // namespace slabtone
