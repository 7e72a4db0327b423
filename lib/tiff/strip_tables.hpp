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
// sequential read delivers it. The strict reader's are 32 bits; the open
// reader's 64, for BigTIFF's LONG8 values.
template <class Value>
class BasicStripTable {
  public:
    Value operator[](std::uint32_t index) const noexcept {
        Value value = 0;
        std::memcpy(&value, values_.data() + std::size_t{index} * sizeof(Value), sizeof(Value));
        return value;
    }

    // Room for `count` values; false when the memory cannot be had.
    bool allocate(std::uint32_t count) {
        return values_.reserve(std::size_t{count} * sizeof(Value));
    }
    void set(std::uint32_t index, Value value) noexcept {
        std::memcpy(values_.data() + std::size_t{index} * sizeof(Value), &value, sizeof(Value));
    }

  private:
    PooledBuffer values_;
};

template <class Value>
struct BasicStripTables {
    std::uint32_t rows_per_strip = 0;    // at least 1
    std::uint32_t strips_per_image = 0;  // ceil(height / rows_per_strip)
    BasicStripTable<Value> offsets;
    BasicStripTable<Value> byte_counts;
};

using StripTable = BasicStripTable<std::uint32_t>;
using StripTables = BasicStripTables<std::uint32_t>;
using WideStripTables = BasicStripTables<std::uint64_t>;

StripTables read_strip_tables(TiffDirectory& directory, std::uint32_t height,
                              const std::string& file_name);
// The same with LONG8 values too, in a BigTIFF file.
WideStripTables read_wide_strip_tables(TiffDirectory& directory, std::uint32_t height,
                                       const std::string& file_name);

}  // namespace slabtone
