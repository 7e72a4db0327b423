// Compression 1: the decoded bytes are the stored bytes. The strip's byte
// count must match what its rows take, exactly.
#pragma once

#include <cstdint>
#include <string>

#include "tiff/encoded_bytes.hpp"

namespace slabtone {

class RawDecoder {
  public:
    RawDecoder(EncodedBytes bytes, const std::string& file_name) noexcept
        : bytes_(bytes), file_name_(&file_name) {}

    void begin_strip(std::uint32_t offset, std::uint32_t byte_count) noexcept {
        bytes_.seek(offset);
        bytes_left_ = byte_count;
    }
    // A byte past the end of the file is delivered as 65535.
    std::uint16_t next_byte() {
        if (bytes_left_ == 0) too_few_codes();
        --bytes_left_;
        return static_cast<std::uint16_t>(bytes_.take());
    }
    void end_strip() const {
        if (bytes_left_ != 0) too_many_codes();
    }

  private:
    [[noreturn]] void too_few_codes() const;
    [[noreturn]] void too_many_codes() const;

    EncodedBytes bytes_;
    const std::string* file_name_;
    std::uint32_t bytes_left_ = 0;
};

}  // namespace slabtone
