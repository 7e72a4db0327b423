// RowsPerStrip and the StripOffsets / StripByteCounts tables.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "common/memory_pool.hpp"
#include "tiff/tiff_directory.hpp"

namespace slabtone {

// The values of one strip entry (SHORT values widened), read once. A value
// that lies past the end of the file reads as all ones, exactly as a
// sequential read delivers it.
class StripTable {
  public:
    std::uint32_t operator[](std::uint32_t index) const noexcept {
        std::uint32_t value = 0;
        std::memcpy(&value, values_.data() + std::size_t{index} * 4, 4);
        return value;
    }

    // Room for `count` values; false when the memory cannot be had.
    bool allocate(std::uint32_t count) { return values_.reserve(std::size_t{count} * 4); }
    void set(std::uint32_t index, std::uint32_t value) noexcept {
        std::memcpy(values_.data() + std::size_t{index} * 4, &value, 4);
    }

  private:
    PooledBuffer values_;
};

struct StripTables {
    std::uint32_t rows_per_strip = 0;    // at least 1
    std::uint32_t strips_per_image = 0;  // ceil(height / rows_per_strip)
    StripTable offsets;
    StripTable byte_counts;
};

StripTables read_strip_tables(TiffDirectory& directory, std::uint32_t height,
                              const std::string& file_name);

}  // namespace slabtone
