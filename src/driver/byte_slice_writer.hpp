// The 8-bit output slice, written through libtiff: uncompressed, one sample
// per pixel, one row per strip, with the output record as ImageDescription
// and "Lumera" as Artist.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "byte_buffer.hpp"

namespace slabtone {

// The complete TIFF file for `bytes` (width * height, row after row), as
// libtiff lays it out, in `recycled`'s memory when there is enough; nullopt
// when the memory for it cannot be had. Throws SliceError(output_name,
// cannot write file) when libtiff refuses a field or a strip.
std::optional<ByteBuffer> encode_byte_slice(const std::string& output_name,
                                            std::span<const std::uint8_t> bytes,
                                            std::uint32_t width, std::uint32_t height,
                                            const std::string& description,
                                            ByteBuffer recycled = {});

// Stores a laid-out file under `output_name`: written under a temporary name
// in the same folder and renamed once complete; on any failure the
// temporary file is removed and SliceError(output_name, cannot write file)
// is thrown.
void store_byte_slice(const std::string& output_name, std::span<const std::uint8_t> file);

// Lets libtiff lay the slice out straight into the file (stored as above),
// with no copy of it in memory: the same bytes as encode_byte_slice.
void write_byte_slice(const std::string& output_name, std::span<const std::uint8_t> bytes,
                      std::uint32_t width, std::uint32_t height, const std::string& description);

}  // namespace slabtone
