// Strip decoders for strips that lie whole inside the file: they decode a
// strip in one call, in tight loops, and report exactly what the
// byte-at-a-time decoders report when asked for `needed` bytes and then
// closed. Strips that reach past the end of the file always go through the
// byte-at-a-time decoders.
//
// `strip` must have 8 readable bytes after its last one (InputFile keeps
// padding for that); `out` must have room for needed + RowTable::kSlackBytes
// bytes, since the last code or run may yield more than is needed before
// the fault is reported.
#pragma once

#include <cstdint>
#include <string>

namespace slabtone {

void check_raw_strip(std::uint32_t byte_count, std::uint64_t needed, const std::string& file_name);

void decode_packbits_strip(const std::uint8_t* strip, std::uint32_t byte_count,
                           std::uint64_t needed, std::uint8_t* out, const std::string& file_name);

void decode_lzw_strip(const std::uint8_t* strip, std::uint32_t byte_count, std::uint64_t needed,
                      std::uint8_t* out, const std::string& file_name);

}  // namespace slabtone
