// The gray TIFF reader: one single-channel slice of 0 to 16 bits per sample,
// contiguous strips, uncompressed, LZW or PackBits, either byte order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "slabtone/slabtone.hpp"
#include "tiff/image_attributes.hpp"
#include "tiff/input_file.hpp"
#include "tiff/row_assembly.hpp"
#include "tiff/row_table.hpp"

namespace slabtone {

// The public name of what a slice's rows hold.
inline SampleType sample_type_of(SampleKind kind) noexcept {
    switch (kind) {
        case SampleKind::signed_int:
            return SampleType::int16;
        case SampleKind::floating:
            return SampleType::float32;
        case SampleKind::unsigned_int:
            break;
    }
    return SampleType::uint16;
}

struct GraySlice {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bits_per_sample = 0;
    // What the rows hold: 16-bit unsigned values, the bits of 16-bit signed
    // ones, or floats (two 16-bit places each; the open reader's).
    SampleKind kind = SampleKind::unsigned_int;
    // The ImageDescription text, or none when the slice has no ASCII one.
    std::optional<std::string> description;
    RowTable rows;
};

// What to deliver besides width, height and bits per sample. Without rows,
// neither the strip tables nor any pixel data are read; without the
// description, its entry is not looked up.
struct ReadRequest {
    bool description = true;
    bool rows = true;
    DecodePath path = DecodePath::fast;
    // Where the rows go instead of the pool: called with the width, height
    // and sample kind once the attributes are checked, it returns room for
    // `room` bytes (null: "cell memory allocation error.").
    std::function<std::uint8_t*(std::uint32_t width, std::uint32_t height, SampleKind kind,
                                std::uint64_t room)>
        place = nullptr;
};

// Memory a caller may keep from one slice to the next, so that a run does
// not allocate and fault in fresh pages for every slice. Give the rows of a
// slice back (buffers.rows = std::move(slice.rows)) once done with them.
struct ReaderBuffers {
    RowTable rows;
    AssemblyScratch scratch;
};

// What a slice will take to read, from its header and directory alone.
struct SliceShape {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned bits_per_sample = 0;
    SampleKind kind = SampleKind::unsigned_int;
    Compression compression = Compression::none;
    std::uint64_t file_size = 0;

    // Memory for reading it: the rows, and the encoded and decoded strip
    // buffers of the bulk decoders.
    std::uint64_t reading_need() const noexcept;
};

// nullopt when the file cannot be read as far as its attributes.
std::optional<SliceShape> probe_gray_tiff(const std::string& path);

// Throws SliceError naming `file_name` (by default `path`) when the file
// cannot be read as a slice: MemoryShortage when a buffer it needs cannot be
// had.
GraySlice read_gray_tiff(const std::string& path, ReadRequest request = {});
GraySlice read_gray_tiff(const std::string& path, ReaderBuffers& buffers, ReadRequest request = {});
GraySlice read_gray_tiff(const std::string& path, const std::string& file_name,
                         ReaderBuffers& buffers, ReadRequest request = {});

// The same for a file already in memory; `file_name` goes into messages.
GraySlice read_gray_tiff(const InputFile& file, const std::string& file_name,
                         ReadRequest request = {});
GraySlice read_gray_tiff(const InputFile& file, const std::string& file_name,
                         ReaderBuffers& buffers, ReadRequest request = {});

// The open reader: everything the strict reader reads, read as it reads it,
// and also BigTIFF files and signed (8 and 16 bits) and float (32 bits)
// samples, with the floating-point predictor. Throws SliceError naming
// `file_name`.
GraySlice read_open_tiff(const InputFile& file, const std::string& file_name,
                         ReaderBuffers& buffers, ReadRequest request = {});
GraySlice read_open_tiff(const std::string& path, const std::string& file_name,
                         ReaderBuffers& buffers, ReadRequest request = {});
std::optional<SliceShape> probe_open_tiff(const std::string& path);

}  // namespace slabtone
