// Size estimates in 64 bits that stop at the largest value instead of
// wrapping: a header may declare sizes near 2^32 in each dimension, and an
// estimate that wrapped would look small and let too much start at once.
#pragma once

#include <cstdint>
#include <limits>

namespace slabtone {

constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

constexpr std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) noexcept {
    return b != 0 && a > std::numeric_limits<std::uint64_t>::max() / b
               ? std::numeric_limits<std::uint64_t>::max()
               : a * b;
}

}  // namespace slabtone
