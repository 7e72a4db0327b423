// Compression 5, LZW (lzw_format.hpp), byte at a time. This is the decoder: it reads an encoded
// byte only when a code needs more bits, expands one code onto a stack and hands its string out one
// byte per call. Every strip must begin with a clear code, its rows must take exactly the bytes its
// codes expand to, and its end code must stand in its last encoded byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/failure.hpp"
#include "tiff/encoded_bytes.hpp"
#include "tiff/lzw_format.hpp"

namespace slabtone {

class LzwDecoder {
  public:
    LzwDecoder(EncodedBytes bytes, const std::string& file_name) noexcept
        : bytes_(bytes), file_name_(&file_name) {}

    void begin_strip(std::uint32_t offset, std::uint32_t byte_count);

    std::uint16_t next_byte() {
        if (pending_count_ > 0) return string_stack_[--pending_count_];
        return expand_next_code();
    }

    void end_strip();

  private:
    // Reading position within the strip's bits. New bytes enter the buffer
    // at the low end; the low bit_count bits are unread, oldest highest, and
    // the bits above them are stale and never reach a code.
    struct BitReader {
        std::uint32_t bytes_left = 0;
        std::uint32_t bit_buffer = 0;
        unsigned bit_count = 0;  // 0 to 19
    };

    static constexpr unsigned mask_of(unsigned width) { return lzw::widens_at(width); }

    // Takes a code of `width` bits; false when the strip runs out of bytes.
    bool try_take_code(unsigned width, unsigned& code);
    unsigned take_code(unsigned width) {
        unsigned code = 0;
        if (!try_take_code(width, code)) fail_with(Failure::lzw_too_few_codes);
        return code;
    }
    std::uint16_t expand_next_code();
    unsigned push_string(unsigned code, unsigned index);
    void check_nothing_left() const;

    [[noreturn]] void fail_with(Failure failure) const;

    EncodedBytes bytes_;
    const std::string* file_name_;
    BitReader reader_;
    unsigned code_width_ = lzw::kFirstWidth;
    unsigned next_code_ = lzw::kFirstEntry;  // 258 to 4096
    unsigned previous_code_ = 0;
    unsigned pending_count_ = 0;  // bytes of string_stack_ not yet handed out

    std::array<std::uint16_t, lzw::kTableSize> prefix_table_{};
    std::array<std::uint8_t, lzw::kTableSize> suffix_table_{};
    // The string being handed out, last byte at index 0.
    std::array<std::uint8_t, lzw::kTableSize + 1> string_stack_{};
};

}  // namespace slabtone
