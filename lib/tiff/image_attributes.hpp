// The image attributes of a slice, checked in a fixed order so that a file
// with several faults always gets the message of the first one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tiff/tiff_directory.hpp"

namespace slabtone {

enum class Compression { none, lzw, packbits };

struct ImageLayout {
    std::uint32_t width = 0;       // 1 to 2^31 - 1
    std::uint32_t height = 0;      // 1 to 2^31 - 1
    unsigned bits_per_sample = 1;  // 0 to 16
    Compression compression = Compression::none;
    // FillOrder 2: the bits of every stored byte are in reverse order.
    bool fill_reversed = false;
    // Predictor 2 (horizontal differencing): 2^bits - 1 cut to 16 bits;
    // 0 means no differencing.
    std::uint16_t predictor_mask = 0;
};

// Width, length, photometric interpretation, samples per pixel, bits per
// sample, planar configuration, compression, fill order and predictor.
ImageLayout check_image_attributes(TiffDirectory& directory, const std::string& file_name);

// The ImageDescription text (ASCII entries only), up to its first NUL.
std::optional<std::string> read_description(TiffDirectory& directory, const std::string& file_name);

}  // namespace slabtone
