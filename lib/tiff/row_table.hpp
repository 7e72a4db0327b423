// The samples of one slice: height rows of width unsigned 16-bit samples,
// row 0 (the top row) first, in one block counted in the memory pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/memory_pool.hpp"

namespace slabtone {

class RowTable {
  public:
    // Bytes of room after the last row, so that a bulk decoder may run past
    // the end of what a strip should yield before the fault is reported.
    static constexpr std::size_t kSlackBytes = 8192;

    RowTable() = default;
    // A moved-from table is empty and holds no memory.
    RowTable(RowTable&& other) noexcept { *this = std::move(other); }
    RowTable& operator=(RowTable&& other) noexcept {
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
        samples_ = std::move(other.samples_);
        placed_ = std::exchange(other.placed_, nullptr);
        return *this;
    }
    // The samples are left unset until written. Returns an empty table when
    // the memory cannot be had. The memory of `recycled` is reused when it
    // is large enough, and given back first when it is not.
    static RowTable allocate(std::uint32_t width, std::uint32_t height, RowTable recycled);
    // A table in memory the caller owns and keeps alive: room for
    // placed_room(width, height) bytes at `bytes`, aligned for 16 bits.
    static RowTable placed(std::uint8_t* bytes, std::uint32_t width, std::uint32_t height) noexcept;
    static std::uint64_t placed_room(std::uint32_t width, std::uint32_t height) noexcept {
        return std::uint64_t{width} * height * 2 + kSlackBytes;
    }

    std::uint32_t width() const noexcept { return width_; }
    std::uint32_t height() const noexcept { return height_; }
    bool empty() const noexcept { return base() == nullptr || height_ == 0; }

    std::uint16_t* row(std::uint32_t r) noexcept {
        return reinterpret_cast<std::uint16_t*>(bytes()) + static_cast<std::size_t>(r) * width_;
    }
    const std::uint16_t* row(std::uint32_t r) const noexcept {
        return reinterpret_cast<const std::uint16_t*>(base()) +
               static_cast<std::size_t>(r) * width_;
    }
    // The rows as one block of bytes, followed by kSlackBytes of room.
    std::uint8_t* bytes() noexcept { return placed_ != nullptr ? placed_ : samples_.data(); }

  private:
    const std::uint8_t* base() const noexcept {
        return placed_ != nullptr ? placed_ : samples_.data();
    }

    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    PooledBuffer samples_;
    std::uint8_t* placed_ = nullptr;  // the caller's memory, when not the pool's
};

}  // namespace slabtone
