// Builds TIFF files byte by byte, so that every check of the reader can be
// reached: either byte order, entries in any order, any type and count,
// values inline or at an offset.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace slabtone::test {

enum class Order { little, big };

inline void PrintTo(Order order, std::ostream* os) {
    *os << (order == Order::little ? "II" : "MM");
}

enum : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

class TiffBuilder {
  public:
    explicit TiffBuilder(Order order = Order::little) : order_(order) {}

    // An entry whose 4-byte value field is given as it stands (numbers in
    // the file's byte order, left-justified).
    TiffBuilder& raw_entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                           std::vector<std::uint8_t> value_field);
    // SHORT or LONG values: inline when they fit, otherwise at an offset.
    TiffBuilder& shorts(std::uint16_t tag, const std::vector<std::uint32_t>& values);
    TiffBuilder& longs(std::uint16_t tag, const std::vector<std::uint32_t>& values);
    TiffBuilder& short_tag(std::uint16_t tag, std::uint32_t value) { return shorts(tag, {value}); }
    TiffBuilder& long_tag(std::uint16_t tag, std::uint32_t value) { return longs(tag, {value}); }
    // ASCII text; the NUL is added and counted.
    TiffBuilder& ascii(std::uint16_t tag, const std::string& text);
    // An entry with `count` values of `type` whose value field holds an offset.
    TiffBuilder& at_offset(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                           std::uint32_t offset);

    // Appends bytes after the header; returns their offset.
    std::uint32_t add_data(const std::vector<std::uint8_t>& bytes);
    std::uint32_t next_data_offset() const;

    std::vector<std::uint8_t> build() const;

    std::vector<std::uint8_t> u16(std::uint32_t value) const;
    std::vector<std::uint8_t> u32(std::uint32_t value) const;

  private:
    struct Entry {
        std::uint16_t tag;
        std::uint16_t type;
        std::uint32_t count;
        std::vector<std::uint8_t> value_field;
    };
    Order order_;
    std::vector<Entry> entries_;
    std::vector<std::uint8_t> data_;
};

// A minimal valid slice: width x height, the given bits per sample and
// photometric 1, with the strips given as stored bytes (uncompressed unless
// `compression` says otherwise) and RowsPerStrip when non-zero.
struct SliceLayout {
    std::uint32_t width = 4;
    std::uint32_t height = 2;
    std::uint32_t bits = 8;
    std::uint32_t compression = 1;
    std::uint32_t rows_per_strip = 0;  // 0: tag absent
    std::uint32_t fill_order = 0;      // 0: tag absent
    std::uint32_t predictor = 0;       // 0: tag absent
    std::vector<std::vector<std::uint8_t>> strips;
    std::string description;  // empty: tag absent
    Order order = Order::little;
};
std::vector<std::uint8_t> build_slice(const SliceLayout& layout);

}  // namespace slabtone::test

namespace slabtone::test {

// The same TIFF file with its first directory moved to the front, right
// after the header, and every offset shifted to match; the old directory
// stays behind as unused bytes at the end. Cutting such a file short cuts
// the strips, not the directory.
std::vector<std::uint8_t> directory_first(const std::vector<std::uint8_t>& file);

}  // namespace slabtone::test
