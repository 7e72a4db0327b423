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

std::uint64_t value_bytes(std::uint16_t type) {
    return type == kShort ? 2 : type == kLong ? 4 : 8;
}

// As many values as fit lie in the entry's value field (two SHORT or one
// LONG in a classic file, four SHORT, two LONG or one LONG8 in BigTIFF);
// more lie at the offset that the field holds.
template <class Value>
BasicStripTable<Value> read_strip_entry(TiffDirectory& directory, std::uint16_t tag,
                                        std::uint32_t strips, const std::string& file_name,
                                        const EntryFailures& failures) {
    BasicStripTable<Value> table;
    if (!table.allocate(strips)) fail_for_memory(file_name, failures.allocation);
    const std::uint16_t type = directory.find_tag_entry(tag);
    const bool wide = sizeof(Value) == 8 && directory.big() && type == kLong8;
    if (type != kShort && type != kLong && !wide) fail(file_name, failures.not_found);
    NumberReader& numbers = directory.numbers();
    if (directory.read_count() != strips) fail(file_name, failures.bad_count);
    if (strips * value_bytes(type) > directory.value_field_bytes()) {
        numbers.cursor().seek(directory.read_offset());
    }
    for (std::uint32_t s = 0; s < strips; ++s) {
        if constexpr (sizeof(Value) == 8) {
            table.set(s, type == kShort  ? numbers.read_u16()
                         : type == kLong ? numbers.read_u32()
                                         : numbers.read_u64());
        } else {
            table.set(s, type == kShort ? numbers.read_u16() : numbers.read_u32());
        }
    }
    return table;
}

template <class Value>
BasicStripTables<Value> read_tables(TiffDirectory& directory, std::uint32_t height,
                                    const std::string& file_name) {
    BasicStripTables<Value> tables;
    tables.rows_per_strip = directory.read_integer_tag(kRowsPerStrip, height);
    if (tables.rows_per_strip == 0) fail(file_name, Failure::bad_rows_per_strip);
    tables.strips_per_image =
        height / tables.rows_per_strip + (height % tables.rows_per_strip != 0 ? 1u : 0u);
    tables.offsets =
        read_strip_entry<Value>(directory, kStripOffsets, tables.strips_per_image, file_name,
                                {Failure::strip_offset_allocation, Failure::bad_strip_offset_count,
                                 Failure::strip_offset_not_found});
    tables.byte_counts =
        read_strip_entry<Value>(directory, kStripByteCounts, tables.strips_per_image, file_name,
                                {Failure::strip_bytes_allocation, Failure::bad_strip_bytes_count,
                                 Failure::strip_bytes_not_found});
    return tables;
}

}  // namespace

StripTables read_strip_tables(TiffDirectory& directory, std::uint32_t height,
                              const std::string& file_name) {
    return read_tables<std::uint32_t>(directory, height, file_name);
}

WideStripTables read_wide_strip_tables(TiffDirectory& directory, std::uint32_t height,
                                       const std::string& file_name) {
    return read_tables<std::uint64_t>(directory, height, file_name);
}

}  // namespace slabtone
