#include "tiff/lzw_decoder.hpp"

#include <cstdint>

#include "tiff/lzw_format.hpp"

namespace slabtone {

using namespace lzw;

void LzwDecoder::fail_with(Failure failure) const {
    fail(*file_name_, failure);
}

bool LzwDecoder::try_take_code(unsigned width, unsigned& code) {
    while (reader_.bit_count < width) {
        if (reader_.bytes_left == 0) return false;
        --reader_.bytes_left;
        // A byte past the end of the file enters as 0xFF.
        auto byte = static_cast<std::uint32_t>(bytes_.take()) & 0xFFu;
        reader_.bit_buffer = (reader_.bit_buffer << 8) | byte;
        reader_.bit_count += 8;
    }
    reader_.bit_count -= width;
    code = (reader_.bit_buffer >> reader_.bit_count) & mask_of(width);
    return true;
}

void LzwDecoder::begin_strip(std::uint32_t offset, std::uint32_t byte_count) {
    bytes_.seek(offset);
    reader_.bytes_left = byte_count;
    reader_.bit_count = 0;
    code_width_ = kFirstWidth;
    // Peek at the first code without taking it: the first next_byte (or
    // end_strip, when no byte is asked for) takes the clear code again.
    unsigned first = take_code(kFirstWidth);
    if (first != kClearCode) fail_with(Failure::lzw_missing_first_clear);
    reader_.bit_count += kFirstWidth;
    next_code_ = kFirstEntry;
    pending_count_ = 0;
}

unsigned LzwDecoder::push_string(unsigned code, unsigned index) {
    while (code >= kFirstEntry) {
        // Every entry's prefix is a lower code, so no string of a full table
        // is longer than 3839 bytes; this guard is never reached by input.
        if (index == kTableSize) fail_with(Failure::lzw_too_long_string);
        string_stack_[index++] = suffix_table_[code];
        code = prefix_table_[code];
    }
    string_stack_[index] = static_cast<std::uint8_t>(code);
    return index + 1;
}

std::uint16_t LzwDecoder::expand_next_code() {
    unsigned code = take_code(code_width_);
    if (code == kEndCode) fail_with(Failure::lzw_unexpected_end);
    if (code == kClearCode) {
        code_width_ = kFirstWidth;
        next_code_ = kFirstEntry;
        code = take_code(kFirstWidth);
        if (code < kClearCode) {
            // The first code after a clear makes no table entry.
            previous_code_ = code;
            pending_count_ = 0;
            return static_cast<std::uint16_t>(code);
        }
        if (code == kEndCode) fail_with(Failure::lzw_unexpected_end);
        fail_with(Failure::lzw_unknown_after_clear);
    }
    if (code > next_code_) fail_with(Failure::lzw_too_large_code);

    unsigned length = 0;
    if (code == next_code_) {
        // The entry not yet made: the previous string and its own first byte.
        if (previous_code_ < kFirstEntry) {
            string_stack_[0] = string_stack_[1] = static_cast<std::uint8_t>(previous_code_);
            length = 2;
        } else {
            length = push_string(previous_code_, 1);
            string_stack_[0] = string_stack_[length - 1];
        }
    } else if (code < kClearCode) {
        string_stack_[0] = static_cast<std::uint8_t>(code);
        length = 1;
    } else {
        length = push_string(code, 0);
    }

    // Only a clear code or the end code may follow entry 4095.
    if (next_code_ == kTableSize) fail_with(Failure::lzw_table_overflow);
    prefix_table_[next_code_] = static_cast<std::uint16_t>(previous_code_);
    suffix_table_[next_code_] = string_stack_[length - 1];
    ++next_code_;
    if (next_code_ == mask_of(code_width_) && code_width_ < kMaxWidth) ++code_width_;

    previous_code_ = code;
    pending_count_ = length - 1;
    return string_stack_[length - 1];
}

void LzwDecoder::check_nothing_left() const {
    // Bytes of the last string that the rows did not take, or whole encoded
    // bytes after the one that holds the end code.
    if (pending_count_ != 0 || reader_.bytes_left != 0) fail_with(Failure::lzw_too_many_codes);
}

void LzwDecoder::end_strip() {
    // Right after the entry that widened the codes (next_code 511, 1023 or
    // 2047) the end may stand at the narrower width or at the wider one.
    const bool just_widened = next_code_ == mask_of(code_width_ - 1);
    const BitReader saved = reader_;
    const std::uint64_t saved_position = bytes_.position();
    auto take = [this](unsigned width, unsigned& code) { return try_take_code(width, code); };
    auto rewind = [&] {
        reader_ = saved;
        bytes_.seek(saved_position);
    };
    if (auto failure = read_lzw_end(code_width_, just_widened, take, rewind)) fail_with(*failure);
    check_nothing_left();
}

}  // namespace slabtone
