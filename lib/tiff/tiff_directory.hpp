// The TIFF header and the first image file directory.
//
// Header: byte-order mark "II" (little-endian) or "MM" (big-endian), the
// magic number 42, and the 32-bit offset of the first directory. A directory
// is a 16-bit entry count followed by 12-byte entries: tag (16), field type
// (16), value count (32) and a 4-byte value field that holds the values
// themselves when they fit, otherwise their offset. Only the first directory
// of a file is used; entries need not be sorted, and when a tag occurs twice
// the first entry counts.
//
// BigTIFF, which the open reader also takes: magic 43, then the offset size
// 8 and a 16-bit 0, and the 64-bit offset of the first directory; a 64-bit
// entry count, 20-byte entries with a 64-bit value count and an 8-byte value
// field, and LONG8 (64-bit) values beside SHORT and LONG.
#pragma once

#include <cstdint>
#include <string>

#include "tiff/input_file.hpp"

namespace slabtone {

enum class ByteOrder { little, big };

enum FieldType : std::uint16_t {
    kAbsent = 0,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kLong8 = 16,
};

// Combines two bytes as read from a C stream (each 0 to 255, or -1 at the end
// of the file) the way 32-bit two's-complement shifts and ORs do: a -1 sets
// every bit of the 16-bit half at and above its own place.
constexpr std::uint16_t combine_u16(int high, int low) noexcept {
    return static_cast<std::uint16_t>((static_cast<std::uint32_t>(high) << 8) |
                                      static_cast<std::uint32_t>(low));
}

// Reads numbers in the file's byte order from a cursor. Past the end of the
// file a 16-bit number comes out as 65535 and a 32-bit one as 4294967295.
class NumberReader {
  public:
    NumberReader(const InputFile& file, ByteOrder order) noexcept : cursor_(file), order_(order) {}

    std::uint16_t read_u16() noexcept {
        int b0 = cursor_.next();
        int b1 = cursor_.next();
        return order_ == ByteOrder::big ? combine_u16(b0, b1) : combine_u16(b1, b0);
    }
    std::uint32_t read_u32() noexcept {
        int b0 = cursor_.next();
        int b1 = cursor_.next();
        int b2 = cursor_.next();
        int b3 = cursor_.next();
        std::uint32_t high = order_ == ByteOrder::big ? combine_u16(b0, b1) : combine_u16(b3, b2);
        std::uint32_t low = order_ == ByteOrder::big ? combine_u16(b2, b3) : combine_u16(b1, b0);
        return (high << 16) | low;
    }
    std::uint64_t read_u64() noexcept {
        const std::uint64_t first = read_u32();
        const std::uint64_t second = read_u32();
        return order_ == ByteOrder::big ? (first << 32) | second : (second << 32) | first;
    }

    FileCursor& cursor() noexcept { return cursor_; }
    ByteOrder order() const noexcept { return order_; }

  private:
    FileCursor cursor_;
    ByteOrder order_;
};

enum class TiffFormats { classic, classic_or_big };

class TiffDirectory {
  public:
    // Checks the header and takes the directory offset; throws "bad magic
    // number." for anything but "II" or "MM" followed by 42 (or a BigTIFF
    // header, when `formats` takes it).
    TiffDirectory(const InputFile& file, const std::string& file_name,
                  TiffFormats formats = TiffFormats::classic);

    ByteOrder byte_order() const noexcept { return numbers_.order(); }
    std::uint64_t directory_offset() const noexcept { return directory_offset_; }
    bool big() const noexcept { return big_; }
    // The bytes of an entry's value field: 4, or 8 in BigTIFF.
    std::uint64_t value_field_bytes() const noexcept { return big_ ? 8 : 4; }
    // At an entry's value count: the count; in its value field: an offset.
    std::uint64_t read_count() noexcept { return big_ ? numbers_.read_u64() : numbers_.read_u32(); }
    std::uint64_t read_offset() noexcept {
        return big_ ? numbers_.read_u64() : numbers_.read_u32();
    }

    // The field type of the first entry with `tag`, or kAbsent. When found,
    // the reader stands at the entry's value count.
    std::uint16_t find_tag_entry(std::uint16_t tag);
    // A single SHORT value, or `fallback` cut to 16 bits.
    std::uint16_t read_short_tag(std::uint16_t tag, std::uint32_t fallback);
    // A single SHORT (zero-extended) or LONG value, or `fallback`; in
    // BigTIFF a LONG8 value too (one past 32 bits comes out as 0xFFFFFFFF,
    // too large for any attribute).
    std::uint32_t read_integer_tag(std::uint16_t tag, std::uint32_t fallback);

    // Reads on from where the last lookup left the position.
    NumberReader& numbers() noexcept { return numbers_; }

  private:
    NumberReader numbers_;
    std::uint64_t directory_offset_ = 0;
    bool big_ = false;
};

}  // namespace slabtone
