#include "tiff/row_table.hpp"

#include <cstdint>
#include <limits>

namespace slabtone {

RowTable RowTable::allocate(std::uint32_t width, std::uint32_t height, RowTable recycled) {
    RowTable table = std::move(recycled);
    table.width_ = 0;
    table.height_ = 0;
    table.placed_ = nullptr;
    // Counted as the classic layout takes it: two bytes per sample and a
    // pointer per row.
    const std::uint64_t row_bytes = std::uint64_t{width} * 2 + sizeof(void*);
    if (height != 0 && row_bytes > std::numeric_limits<std::uint64_t>::max() / height) return table;
    const std::uint64_t bytes = row_bytes * height + kSlackBytes;
    if (bytes > std::numeric_limits<std::size_t>::max() ||
        !table.samples_.reserve(static_cast<std::size_t>(bytes))) {
        return table;
    }
    table.width_ = width;
    table.height_ = height;
    return table;
}

RowTable RowTable::placed(std::uint8_t* bytes, std::uint32_t width, std::uint32_t height) noexcept {
    RowTable table;
    table.width_ = width;
    table.height_ = height;
    table.placed_ = bytes;
    return table;
}

}  // namespace slabtone
