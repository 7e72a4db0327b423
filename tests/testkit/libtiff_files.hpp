// Files written and read by the installed libtiff, the oracle of the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace slabtone::test {

struct LibtiffImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 16;
    std::uint16_t compression = 1;  // COMPRESSION_NONE, _LZW (5), _PACKBITS (32773)
    std::uint16_t predictor = 1;
    std::uint16_t fill_order = 1;
    bool big_endian = false;
    std::uint32_t rows_per_strip = 0;    // 0: the whole image in one strip
    std::string description;             // empty: none
    std::vector<std::uint16_t> samples;  // width * height, row after row
};

// Writes `image` through libtiff (TIFFWriteEncodedStrip); packed widths are
// packed most significant bit first, each row starting on a byte.
void write_with_libtiff(const std::string& path, const LibtiffImage& image);

// A slice of 8-, 16- or 32-bit samples of any SampleFormat, in a classic
// or a BigTIFF file, written through libtiff from the samples' bytes in the
// machine's order.
struct LibtiffTypedImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 32;
    std::uint16_t sample_format = 3;  // 1 unsigned, 2 signed, 3 IEEE float
    std::uint16_t compression = 1;
    std::uint16_t predictor = 1;
    bool big_endian = false;
    bool big_tiff = false;
    std::uint32_t rows_per_strip = 0;  // 0: the whole image in one strip
    std::string description;
    std::vector<std::uint8_t> samples;  // width * height * bits / 8 bytes
};
void write_typed_with_libtiff(const std::string& path, const LibtiffTypedImage& image);

// The samples as libtiff decodes them (TIFFReadEncodedStrip).
std::vector<std::uint16_t> read_with_libtiff(const std::string& path);

// The 8-bit output file that TIFFOpen/TIFFClose write for these bytes and
// this description, with the ten fields in their order.
std::vector<std::uint8_t> expected_output_file(const std::string& scratch_path,
                                               const std::vector<std::uint8_t>& bytes,
                                               std::uint32_t width, std::uint32_t height,
                                               const std::string& description);

std::vector<std::uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Deterministic CT-like test samples: a disc of smooth structure plus noise,
// limited to `bits`.
std::vector<std::uint16_t> phantom_samples(std::uint32_t width, std::uint32_t height, unsigned bits,
                                           std::uint32_t seed, bool noisy);

}  // namespace slabtone::test
