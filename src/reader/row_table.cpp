#include "row_table.hpp"

#include <new>

namespace slabtone {

RowTable RowTable::allocate(std::uint32_t width, std::uint32_t height, RowTable recycled) {
    RowTable table = std::move(recycled);
    const auto samples = static_cast<std::size_t>(std::uint64_t{width} * height) + kSlackBytes / 2;
    if (samples > table.capacity_) {
        table.samples_.reset();
        table.samples_.reset(new (std::nothrow) std::uint16_t[samples]);
        table.capacity_ = table.samples_ ? samples : 0;
    }
    table.rows_ = table.samples_.get();
    table.width_ = table.samples_ ? width : 0;
    table.height_ = table.samples_ ? height : 0;
    return table;
}

}  // namespace slabtone
