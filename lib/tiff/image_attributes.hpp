// The image attributes of a slice, checked in a fixed order so that a file
// with several faults always gets the message of the first one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tiff/tiff_directory.hpp"

namespace slabtone {

// Deflate only in the open reader.
enum class Compression { none, lzw, packbits, deflate };

// SampleFormat: what a sample's bits mean. The strict reader takes unsigned
// samples only (and never looks at the tag).
enum class SampleKind { unsigned_int, signed_int, floating };

struct ImageLayout {
    std::uint32_t width = 0;       // 1 to 2^31 - 1
    std::uint32_t height = 0;      // 1 to 2^31 - 1
    unsigned bits_per_sample = 1;  // 0 to 16; 32 for floating samples
    SampleKind kind = SampleKind::unsigned_int;
    Compression compression = Compression::none;
    // FillOrder 2: the bits of every stored byte are in reverse order.
    bool fill_reversed = false;
    // Predictor 2 (horizontal differencing): 2^bits - 1 cut to 16 bits;
    // 0 means no differencing.
    std::uint16_t predictor_mask = 0;
    // Predictor 2 on samples of 32 bits, and predictor 3 (floating point,
    // TIFF Technote 3), which the open reader takes.
    bool word_differencing = false;
    bool floating_predictor = false;
};

// Width, length, photometric interpretation, samples per pixel, bits per
// sample, planar configuration, compression, fill order and predictor.
ImageLayout check_image_attributes(TiffDirectory& directory, const std::string& file_name);

// The open reader's checks: the same, in the same order, with SampleFormat
// right after BitsPerSample (unsigned 1 to 16 bits, signed 8 and 16, float
// 32: "unsupported sample format." otherwise) and predictor 3 for float
// samples.
ImageLayout check_open_image_attributes(TiffDirectory& directory, const std::string& file_name);

// The ImageDescription text (ASCII entries only), up to its first NUL.
std::optional<std::string> read_description(TiffDirectory& directory, const std::string& file_name);

}  // namespace slabtone
