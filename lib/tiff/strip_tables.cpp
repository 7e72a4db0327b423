#include "tiff/strip_tables.hpp"

#include <cstdint>

#include "common/failure.hpp"

namespace slabtone {

namespace {

constexpr std::uint16_t kStripOffsets = 273;
constexpr std::uint16_t kRowsPerStrip = 278;
constexpr std::uint16_t kStripByteCounts = 279;

struct EntryFailures {
    Failure allocation;
    Failure bad_count;
    Failure not_found;
};

// Up to two SHORT values or one LONG value fit in the entry's value field;
// more lie at the offset that the field holds.
StripTable read_strip_entry(TiffDirectory& directory, std::uint16_t tag, std::uint32_t strips,
                            const std::string& file_name, const EntryFailures& failures) {
    StripTable table;
    if (!table.allocate(strips)) fail_for_memory(file_name, failures.allocation);
    std::uint16_t type = directory.find_tag_entry(tag);
    if (type != kShort && type != kLong) fail(file_name, failures.not_found);
    NumberReader& numbers = directory.numbers();
    if (numbers.read_u32() != strips) fail(file_name, failures.bad_count);
    const bool short_values = type == kShort;
    if (strips > (short_values ? 2u : 1u)) numbers.cursor().seek(numbers.read_u32());
    for (std::uint32_t s = 0; s < strips; ++s) {
        table.set(s, short_values ? numbers.read_u16() : numbers.read_u32());
    }
    return table;
}

}  // namespace

StripTables read_strip_tables(TiffDirectory& directory, std::uint32_t height,
                              const std::string& file_name) {
    StripTables tables;
    tables.rows_per_strip = directory.read_integer_tag(kRowsPerStrip, height);
    if (tables.rows_per_strip == 0) fail(file_name, Failure::bad_rows_per_strip);
    tables.strips_per_image =
        height / tables.rows_per_strip + (height % tables.rows_per_strip != 0 ? 1u : 0u);
    tables.offsets =
        read_strip_entry(directory, kStripOffsets, tables.strips_per_image, file_name,
                         {Failure::strip_offset_allocation, Failure::bad_strip_offset_count,
                          Failure::strip_offset_not_found});
    tables.byte_counts =
        read_strip_entry(directory, kStripByteCounts, tables.strips_per_image, file_name,
                         {Failure::strip_bytes_allocation, Failure::bad_strip_bytes_count,
                          Failure::strip_bytes_not_found});
    return tables;
}

}  // namespace slabtone
