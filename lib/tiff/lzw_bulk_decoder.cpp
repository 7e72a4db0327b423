// LZW in one pass over a strip held in memory. Instead of walking prefix
// chains byte by byte, every table entry is kept as the place in the output
// where its string already stands (a string of code c is an earlier string
// plus the first byte after it), so expanding a code is one copy of earlier
// output.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "common/failure.hpp"
#include "tiff/bulk_decoders.hpp"
#include "tiff/lzw_format.hpp"

namespace slabtone {

namespace {

using namespace lzw;

// Copies a string of earlier output. The source ends at or before `dst`,
// but may lie closer than 16 bytes, so each chunk is loaded before it is
// stored; bytes past `length` are scratch that later output overwrites.
// Every string has at least one byte.
inline void copy_string(std::uint8_t* dst, const std::uint8_t* src, std::size_t length) {
    std::size_t i = 0;
    do {
        std::uint8_t chunk[16];
        std::memcpy(chunk, src + i, 16);
        std::memcpy(dst + i, chunk, 16);
        i += 16;
    } while (i < length);
}

class CodeReader {
  public:
    CodeReader(const std::uint8_t* strip, std::uint32_t byte_count)
        : strip_(strip), total_bits_(std::uint64_t{byte_count} * 8), byte_count_(byte_count) {}

    bool can_take(unsigned width) const { return total_bits_ - position_ >= width; }
    // Codes are most significant bit first; a word load covers any code at
    // any bit position (the strip has 8 readable bytes after it).
    unsigned peek(unsigned width) const {
        std::uint64_t word = 0;
        std::memcpy(&word, strip_ + (position_ >> 3), sizeof word);
        if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
        return static_cast<unsigned>((word << (position_ & 7)) >> (64 - width));
    }
    unsigned take(unsigned width) {
        unsigned code = peek(width);
        position_ += width;
        return code;
    }
    std::uint64_t position() const { return position_; }
    void rewind(std::uint64_t position) { position_ = position; }
    // Whole encoded bytes after the one that holds the last bit taken.
    std::uint64_t bytes_left() const { return byte_count_ - (position_ + 7) / 8; }

  private:
    const std::uint8_t* strip_;
    std::uint64_t total_bits_;
    std::uint64_t byte_count_;
    std::uint64_t position_ = 0;
};

// The single-byte strings 0 to 255, with room for a whole chunk after the
// last, so that a literal code is copied like any other string.
constexpr std::array<std::uint8_t, 256 + 16> make_literals() {
    std::array<std::uint8_t, 256 + 16> literals{};
    for (unsigned i = 0; i < 256; ++i) literals[i] = static_cast<std::uint8_t>(i);
    return literals;
}
constexpr std::array<std::uint8_t, 256 + 16> kLiterals = make_literals();

// Every code's string as the place where it already stands: the literal
// table for codes below 256, the output for entries from 258 on.
struct StringTable {
    std::array<const std::uint8_t*, kTableSize> start;
    std::array<std::uint16_t, kTableSize> length;

    StringTable() {
        for (unsigned code = 0; code < kClearCode; ++code) {
            start[code] = kLiterals.data() + code;
            length[code] = 1;
        }
    }
};

}  // namespace

void decode_lzw_strip(const std::uint8_t* strip, std::uint32_t byte_count, std::uint64_t needed,
                      std::uint8_t* out, const std::string& file_name) {
    auto failure = [&](Failure f) { fail(file_name, f); };
    // The byte-at-a-time decoder reads two bytes at the start of a strip and
    // requires its first code to be a clear code.
    if (byte_count < 2) failure(Failure::lzw_too_few_codes);
    CodeReader codes(strip, byte_count);
    if (codes.peek(kFirstWidth) != kClearCode) failure(Failure::lzw_missing_first_clear);

    StringTable table;
    unsigned width = kFirstWidth;
    unsigned widen_at = widens_at(width);  // next_code that widens the codes
    unsigned next_code = kFirstEntry;
    std::uint8_t* const first = out;
    std::uint8_t* const wanted_end = out + needed;
    const std::uint8_t* previous = out;
    unsigned previous_length = 0;

    while (out < wanted_end) {
        if (!codes.can_take(width)) [[unlikely]]
            failure(Failure::lzw_too_few_codes);
        unsigned code = codes.take(width);
        unsigned length = 0;
        if (code - kClearCode < 2 || code >= next_code) [[unlikely]] {
            if (code == kEndCode) failure(Failure::lzw_unexpected_end);
            if (code == kClearCode) {
                width = kFirstWidth;
                widen_at = widens_at(width);
                next_code = kFirstEntry;
                if (!codes.can_take(kFirstWidth)) failure(Failure::lzw_too_few_codes);
                code = codes.take(kFirstWidth);
                if (code == kEndCode) failure(Failure::lzw_unexpected_end);
                if (code >= kClearCode) failure(Failure::lzw_unknown_after_clear);
                // The first code after a clear makes no table entry.
                *out = static_cast<std::uint8_t>(code);
                previous = out;
                previous_length = 1;
                ++out;
                continue;
            }
            if (code > next_code) failure(Failure::lzw_too_large_code);
            // code == next_code, the entry not yet made: the previous string
            // (which stands right before) and its own first byte.
            copy_string(out, previous, previous_length);
            out[previous_length] = *previous;
            length = previous_length + 1;
        } else {
            length = table.length[code];
            copy_string(out, table.start[code], length);
        }
        // Only a clear code or the end code may follow entry 4095.
        if (next_code == kTableSize) [[unlikely]]
            failure(Failure::lzw_table_overflow);
        // The new entry is the previous string followed by the first byte of
        // this one: the previous string and the byte after it in the output.
        table.start[next_code] = previous;
        table.length[next_code] = static_cast<std::uint16_t>(previous_length + 1);
        ++next_code;
        if (next_code == widen_at && width < kMaxWidth) [[unlikely]] {
            ++width;
            widen_at = widens_at(width);
        }
        previous = out;
        previous_length = length;
        out += length;
    }
    const std::uint64_t produced = static_cast<std::uint64_t>(out - first);

    // The end of the strip, as the byte-at-a-time decoder reads it.
    const bool just_widened = next_code == widens_at(width - 1);
    const std::uint64_t end_position = codes.position();
    auto take = [&codes](unsigned code_width, unsigned& code) {
        if (!codes.can_take(code_width)) return false;
        code = codes.take(code_width);
        return true;
    };
    auto rewind = [&] { codes.rewind(end_position); };
    if (auto f = read_lzw_end(width, just_widened, take, rewind)) failure(*f);
    if (produced != needed || codes.bytes_left() != 0) failure(Failure::lzw_too_many_codes);
}

}  // namespace slabtone
