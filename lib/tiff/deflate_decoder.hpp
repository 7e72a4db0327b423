// Deflate strips (Compression 8, and 32946 as older writers mark them): a
// zlib stream (RFC 1950) per strip, inflated in one call by libdeflate into
// the bytes of the strip's rows.
#pragma once

#include <cstdint>
#include <string>

struct libdeflate_decompressor;

namespace slabtone {

class DeflateDecoder {
  public:
    DeflateDecoder();
    ~DeflateDecoder();
    DeflateDecoder(const DeflateDecoder&) = delete;
    DeflateDecoder& operator=(const DeflateDecoder&) = delete;

    // Inflates the strip's `byte_count` bytes into exactly `needed` bytes at
    // `out`: "Deflate data error." for a stream that does not inflate,
    // "Deflate too few codes." when it yields fewer bytes than the rows
    // need, "Deflate too many codes." when it would yield more. Bytes after
    // the end of the stream are not looked at, as libtiff does not.
    void decode(const std::uint8_t* strip, std::uint64_t byte_count, std::uint64_t needed,
                std::uint8_t* out, const std::string& file_name);

  private:
    libdeflate_decompressor* decompressor_ = nullptr;
};

}  // namespace slabtone
