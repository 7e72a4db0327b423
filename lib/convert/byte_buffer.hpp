// A growable block of bytes, counted in the memory pool, whose new bytes are
// not zero-filled: an 8-bit slice is written once, so clearing it first
// would only double the work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "common/memory_pool.hpp"

namespace slabtone {

class ByteBuffer {
  public:
    ByteBuffer() = default;
    // A moved-from buffer is empty and holds no memory.
    ByteBuffer(ByteBuffer&& other) noexcept { *this = std::move(other); }
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        storage_ = std::move(other.storage_);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    std::uint8_t* data() noexcept { return storage_.data(); }
    const std::uint8_t* data() const noexcept { return storage_.data(); }
    std::size_t size() const noexcept { return size_; }
    std::span<const std::uint8_t> bytes() const noexcept { return {storage_.data(), size_}; }
    std::span<std::uint8_t> bytes() noexcept { return {storage_.data(), size_}; }

    std::size_t capacity() const noexcept { return storage_.capacity(); }
    void clear() noexcept { size_ = 0; }

    // Empty, with room for at least `bytes`: what it held is dropped, never
    // copied. False when memory is short (then it holds nothing).
    bool reserve_empty(std::size_t bytes) noexcept {
        size_ = 0;
        return storage_.reserve(bytes);
    }

    // Grows or shrinks to `size` bytes, keeping the first ones; the new
    // bytes are unset. False, with nothing changed, when memory is short.
    bool resize(std::size_t size) noexcept {
        if (size > storage_.capacity()) {
            const std::size_t doubled = storage_.capacity() * 2;
            // Only the bytes in use are kept, and when none are, the old
            // storage goes before the new is asked for.
            if (!storage_.reserve(size > doubled ? size : doubled, size_) &&
                (size_ != 0 || !storage_.reserve(size))) {
                return false;
            }
        }
        size_ = size;
        return true;
    }

  private:
    PooledBuffer storage_;
    std::size_t size_ = 0;
};

}  // namespace slabtone
