// A growable block of bytes whose new bytes are not zero-filled: an 8-bit
// slice is written once, so clearing it first would only double the work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <utility>

namespace slabtone {

class ByteBuffer {
  public:
    ByteBuffer() = default;
    // A moved-from buffer is empty and holds no memory.
    ByteBuffer(ByteBuffer&& other) noexcept { *this = std::move(other); }
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        storage_ = std::move(other.storage_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        return *this;
    }

    std::uint8_t* data() noexcept { return storage_.get(); }
    const std::uint8_t* data() const noexcept { return storage_.get(); }
    std::size_t size() const noexcept { return size_; }
    std::span<const std::uint8_t> bytes() const noexcept { return {storage_.get(), size_}; }
    std::span<std::uint8_t> bytes() noexcept { return {storage_.get(), size_}; }

    void clear() noexcept { size_ = 0; }

    // Grows or shrinks to `size` bytes, keeping the first ones; the new
    // bytes are unset. False, with nothing changed, when memory is short.
    bool resize(std::size_t size) noexcept {
        if (size > capacity_) {
            std::size_t capacity = size > capacity_ * 2 ? size : capacity_ * 2;
            std::unique_ptr<std::uint8_t[]> larger(new (std::nothrow) std::uint8_t[capacity]);
            if (!larger) return false;
            if (size_ > 0) std::memcpy(larger.get(), storage_.get(), size_);
            storage_ = std::move(larger);
            capacity_ = capacity;
        }
        size_ = size;
        return true;
    }

  private:
    std::unique_ptr<std::uint8_t[]> storage_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace slabtone
