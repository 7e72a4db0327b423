// RowsPerStrip and the StripOffsets / StripByteCounts tables.
#pragma once

#include <cstdint>
#include <string>

#include "tiff_directory.hpp"

namespace slabtone {

// The values of one strip entry (SHORT or LONG), read straight from the file
// image on demand: a value that lies past the end of the file reads as all
// ones, exactly as a sequential read would deliver it.
class StripTable {
  public:
    StripTable() = default;
    StripTable(const InputFile& file, ByteOrder order, std::uint64_t position, bool short_values)
        : file_(&file), order_(order), position_(position), short_values_(short_values) {}

    std::uint32_t operator[](std::uint32_t index) const noexcept {
        NumberReader numbers(*file_, order_);
        if (short_values_) {
            numbers.cursor().seek(position_ + std::uint64_t{index} * 2);
            return numbers.read_u16();
        }
        numbers.cursor().seek(position_ + std::uint64_t{index} * 4);
        return numbers.read_u32();
    }

  private:
    const InputFile* file_ = nullptr;
    ByteOrder order_ = ByteOrder::little;
    std::uint64_t position_ = 0;
    bool short_values_ = false;
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
