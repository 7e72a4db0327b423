// Memory for slices, counted against what the process may hold at once.
//
// A TIFF file can declare any image size in a few bytes. On a system that
// overcommits, allocating such an image "succeeds" and the process is killed
// later when the pages are touched; under an address-space limit the
// allocation fails, but only after other slices may have taken the room.
// So every large buffer of a slice (rows, encoded strips, the 8-bit image,
// the output file) is counted here for as long as it exists, and a request
// that would take the count past the capacity is refused before anything is
// allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace slabtone {

// What one slice converted alone may hold: the smallest of the physical
// memory, the cgroup's memory limit, and the address-space limit less what
// the process had mapped when this was first asked (its code and libraries)
// and a small reserve. Fixed for the life of the process, so that whether a
// slice fits depends on the slice alone; programs ask for it first thing.
std::uint64_t alone_capacity() noexcept;

// settle_process_memory (the public header) fixes the alone capacity, and
// has the C library map every large block on its own (given back whole when
// freed) and keep one heap for all threads (rather than reserving a heap's
// address space per thread).

// Overrides the alone capacity (tests and fuzzers); nullopt restores it.
void set_memory_budget(std::optional<std::uint64_t> bytes) noexcept;

// While several slices are converted at once, the pool may be held to less
// than the alone capacity; nullopt restores the alone capacity.
void set_shared_capacity(std::optional<std::uint64_t> bytes) noexcept;

// Tests: the `n`-th request (from 1) made while a shared capacity is set
// is refused, as if the memory had run out beside the other slices;
// nullopt refuses none.
void refuse_shared_request(std::optional<std::uint64_t> n) noexcept;

std::uint64_t memory_capacity() noexcept;
std::uint64_t memory_held() noexcept;

// Counts `bytes` more as held; false, counting nothing, when they do not fit.
bool take_memory(std::uint64_t bytes) noexcept;
void give_back_memory(std::uint64_t bytes) noexcept;

// count * unit, when that fits beside what is held now (nothing is taken).
bool memory_fits(std::uint64_t count, std::uint64_t unit) noexcept;

// Uninitialised storage counted in the pool while it exists, aligned for
// any scalar and for whole-word loads.
class PooledBuffer {
  public:
    PooledBuffer() = default;
    PooledBuffer(const PooledBuffer&) = delete;
    PooledBuffer& operator=(const PooledBuffer&) = delete;
    // A moved-from buffer is empty and holds no memory.
    PooledBuffer(PooledBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    PooledBuffer& operator=(PooledBuffer&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    ~PooledBuffer() { release(); }

    // Room for at least `bytes`, keeping the first `keep` bytes; false when
    // the pool or the system cannot give it. Without bytes to keep, the old
    // storage is given back before the new is asked for (and the buffer is
    // empty after a failure); otherwise a failure leaves it as it was.
    bool reserve(std::size_t bytes, std::size_t keep = 0) noexcept;
    void release() noexcept;

    std::uint8_t* data() noexcept { return data_; }
    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t capacity() const noexcept { return capacity_; }

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t capacity_ = 0;
};

}  // namespace slabtone
