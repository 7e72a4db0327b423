// The samples of one slice: height rows of width unsigned 16-bit samples,
// row 0 (the top row) first, in one block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace slabtone {

class RowTable {
  public:
    RowTable() = default;
    // The samples are left unset (and their pages untouched) until written.
    // Returns an empty table when the memory cannot be had.
    static RowTable allocate(std::uint32_t width, std::uint32_t height);

    std::uint32_t width() const noexcept { return width_; }
    std::uint32_t height() const noexcept { return height_; }
    bool empty() const noexcept { return samples_ == nullptr; }

    std::uint16_t* row(std::uint32_t r) noexcept {
        return samples_.get() + static_cast<std::size_t>(r) * width_;
    }
    const std::uint16_t* row(std::uint32_t r) const noexcept {
        return samples_.get() + static_cast<std::size_t>(r) * width_;
    }

  private:
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::unique_ptr<std::uint16_t[]> samples_;
};

}  // namespace slabtone
