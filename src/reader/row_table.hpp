// The samples of one slice: height rows of width unsigned 16-bit samples,
// row 0 (the top row) first, in one block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace slabtone {

class RowTable {
  public:
    // Bytes of room after the last row, so that a bulk decoder may run past
    // the end of what a strip should yield before the fault is reported.
    static constexpr std::size_t kSlackBytes = 8192;

    RowTable() = default;
    // The samples are left unset until written. Returns an empty table when
    // the memory cannot be had. The memory of `recycled` is reused when it
    // is large enough.
    static RowTable allocate(std::uint32_t width, std::uint32_t height, RowTable recycled);

    std::uint32_t width() const noexcept { return width_; }
    std::uint32_t height() const noexcept { return height_; }
    bool empty() const noexcept { return samples_ == nullptr || height_ == 0; }

    std::uint16_t* row(std::uint32_t r) noexcept {
        return samples_.get() + static_cast<std::size_t>(r) * width_;
    }
    const std::uint16_t* row(std::uint32_t r) const noexcept {
        return samples_.get() + static_cast<std::size_t>(r) * width_;
    }
    // The rows as one block of bytes, followed by kSlackBytes of room.
    std::uint8_t* bytes() noexcept { return reinterpret_cast<std::uint8_t*>(samples_.get()); }

  private:
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::size_t capacity_ = 0;  // samples, slack included
    std::unique_ptr<std::uint16_t[]> samples_;
};

}  // namespace slabtone
