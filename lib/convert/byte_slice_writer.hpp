// The 8-bit output slice, written through libtiff: uncompressed, one sample
// per pixel, one row per strip, with the output record as ImageDescription
// and "Lumera" as Artist.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "convert/byte_buffer.hpp"
#include "convert/stack_folder.hpp"

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

// The complete TIFF file of a width x height 8-bit slice whose samples
// `fill` writes, row after row, straight into the place the file's strips
// take: no 8-bit image beside the file, no copy of it. The buffer is sized
// with some slack, so that a recycled one holds the next slice even when its
// description is a little longer. nullopt when the memory cannot be had, or
// when libtiff laid the file out otherwise than the strips were put (the
// caller then quantises into an image of its own).
std::optional<ByteBuffer> encode_filled_slice(const std::string& output_name, std::uint32_t width,
                                              std::uint32_t height, const std::string& description,
                                              ByteBuffer recycled,
                                              const std::function<void(std::uint8_t*)>& fill);

// Stores a laid-out file as `output_name` in `folder`: written under a
// temporary name in the same folder and renamed once complete; on any
// failure the temporary file is removed and SliceError(output_name, cannot
// write file) is thrown.
void store_byte_slice(const StackFolder& folder, const std::string& output_name,
                      std::span<const std::uint8_t> file);

// Lets libtiff lay the slice out straight into the file (stored as above),
// with no copy of it in memory: the same bytes as encode_byte_slice.
void write_byte_slice(const StackFolder& folder, const std::string& output_name,
                      std::span<const std::uint8_t> bytes, std::uint32_t width,
                      std::uint32_t height, const std::string& description);

}  // namespace slabtone
