// Compression 32773, PackBits: runs that each open with a header byte h.
//   h 0..127    literal: the next h + 1 bytes as they are
//   h 128       no operation
//   h 129..255  repeat: 257 - h copies of the next byte
// Runs may cross rows but never strips. A header is read only when a byte
// is asked for and no run is under way, so nothing is read ahead.
#pragma once

#include <cstdint>
#include <string>

#include "tiff/encoded_bytes.hpp"

namespace slabtone {

class PackBitsDecoder {
  public:
    PackBitsDecoder(EncodedBytes bytes, const std::string& file_name) noexcept
        : bytes_(bytes), file_name_(&file_name) {}

    void begin_strip(std::uint32_t offset, std::uint32_t byte_count) noexcept {
        bytes_.seek(offset);
        run_count_ = 0;
        bytes_left_ = byte_count;
    }

    std::uint16_t next_byte() {
        if (run_count_ > 0) {
            --run_count_;
            return static_cast<std::uint16_t>(counted_byte());
        }
        if (run_count_ < 0) {
            ++run_count_;
            return static_cast<std::uint16_t>(repeat_byte_);
        }
        int header = header_byte();
        while (header == 128) header = header_byte();
        if (header < 128) {
            run_count_ = header;
            return static_cast<std::uint16_t>(counted_byte());
        }
        run_count_ = header - 256;
        repeat_byte_ = counted_byte();
        return static_cast<std::uint16_t>(repeat_byte_);
    }

    void end_strip() const {
        if (run_count_ != 0 || bytes_left_ != 0) too_many_codes();
    }

  private:
    // One encoded byte of the strip; -1 when it lies past the end of the
    // file, which a literal or repeat run delivers as 65535.
    int counted_byte() {
        if (bytes_left_ == 0) too_few_codes();
        --bytes_left_;
        return bytes_.take();
    }
    // A header byte past the end of the file counts as 255.
    int header_byte() {
        int header = counted_byte();
        return header < 0 ? 255 : header;
    }

    [[noreturn]] void too_few_codes() const;
    [[noreturn]] void too_many_codes() const;

    EncodedBytes bytes_;
    const std::string* file_name_;
    std::uint32_t bytes_left_ = 0;
    // 0: the next byte is a header; n > 0: n more literal bytes; -n < 0: n
    // more copies of repeat_byte_.
    int run_count_ = 0;
    int repeat_byte_ = 0;
};

}  // namespace slabtone
