#include "tiff/tiff_directory.hpp"

#include <cstdint>

#include "common/failure.hpp"

namespace slabtone {

namespace {

constexpr int kLittleMark = 'I';
constexpr int kBigMark = 'M';
constexpr std::uint16_t kMagic = 42;
constexpr std::uint16_t kBigMagic = 43;
constexpr std::uint64_t kEntrySize = 12;
constexpr std::uint64_t kBigEntrySize = 20;

ByteOrder byte_order_of(const InputFile& file, const std::string& file_name) {
    int first = file.byte_at(0);
    if (first != kLittleMark && first != kBigMark) fail(file_name, Failure::bad_magic_number);
    if (file.byte_at(1) != first) fail(file_name, Failure::bad_magic_number);
    return first == kLittleMark ? ByteOrder::little : ByteOrder::big;
}

}  // namespace

TiffDirectory::TiffDirectory(const InputFile& file, const std::string& file_name,
                             TiffFormats formats)
    : numbers_(file, byte_order_of(file, file_name)) {
    numbers_.cursor().seek(2);
    const std::uint16_t magic = numbers_.read_u16();
    if (magic == kBigMagic && formats == TiffFormats::classic_or_big) {
        // The offset size, then a reserved 0.
        if (numbers_.read_u16() != 8 || numbers_.read_u16() != 0) {
            fail(file_name, Failure::bad_magic_number);
        }
        big_ = true;
        directory_offset_ = numbers_.read_u64();
        return;
    }
    if (magic != kMagic) fail(file_name, Failure::bad_magic_number);
    directory_offset_ = numbers_.read_u32();
}

std::uint16_t TiffDirectory::find_tag_entry(std::uint16_t tag) {
    numbers_.cursor().seek(directory_offset_);
    if (big_) {
        // A count of 2^64 entries is only bytes past the end of the file:
        // the search stops there.
        const std::uint64_t size = numbers_.cursor().file().size();
        for (std::uint64_t left = numbers_.read_u64(); left != 0; --left) {
            if (numbers_.cursor().position() >= size) break;
            if (numbers_.read_u16() == tag) return numbers_.read_u16();
            numbers_.cursor().skip(kBigEntrySize - 2);
        }
        return kAbsent;
    }
    for (std::uint32_t left = numbers_.read_u16(); left != 0; --left) {
        if (numbers_.read_u16() == tag) return numbers_.read_u16();
        numbers_.cursor().skip(kEntrySize - 2);
    }
    return kAbsent;
}

std::uint16_t TiffDirectory::read_short_tag(std::uint16_t tag, std::uint32_t fallback) {
    if (find_tag_entry(tag) == kShort && read_count() == 1) return numbers_.read_u16();
    return static_cast<std::uint16_t>(fallback);
}

std::uint32_t TiffDirectory::read_integer_tag(std::uint16_t tag, std::uint32_t fallback) {
    const std::uint16_t type = find_tag_entry(tag);
    if (type == kShort && read_count() == 1) return numbers_.read_u16();
    if (type == kLong && read_count() == 1) return numbers_.read_u32();
    if (big_ && type == kLong8 && read_count() == 1) {
        const std::uint64_t value = numbers_.read_u64();
        return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
    }
    return fallback;
}

}  // namespace slabtone
