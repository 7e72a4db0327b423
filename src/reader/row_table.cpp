#include "row_table.hpp"

#include <new>

namespace slabtone {

RowTable RowTable::allocate(std::uint32_t width, std::uint32_t height) {
    RowTable table;
    auto samples = static_cast<std::size_t>(std::uint64_t{width} * height);
    table.samples_.reset(new (std::nothrow) std::uint16_t[samples]);
    if (table.samples_) {
        table.width_ = width;
        table.height_ = height;
    }
    return table;
}

}  // namespace slabtone
