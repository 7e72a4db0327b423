#include "testkit/libtiff_files.hpp"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace slabtone::test {

namespace {

std::size_t row_bytes(std::uint32_t width, unsigned bits) {
    return (std::size_t{width} * bits + 7) / 8;
}

std::vector<std::uint8_t> pack_rows(const LibtiffImage& image, std::uint32_t first_row,
                                    std::uint32_t rows) {
    const std::size_t stride = row_bytes(image.width, image.bits);
    std::vector<std::uint8_t> out(stride * rows, 0);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint16_t* src = &image.samples[std::size_t{first_row + r} * image.width];
        std::uint8_t* dst = &out[stride * r];
        if (image.bits == 16) {
            // Native order; libtiff swaps for a big-endian file.
            std::memcpy(dst, src, std::size_t{image.width} * 2);
            continue;
        }
        std::size_t bit = 0;
        for (std::uint32_t i = 0; i < image.width; ++i) {
            for (int k = image.bits - 1; k >= 0; --k, ++bit) {
                if ((src[i] >> k) & 1u) dst[bit / 8] |= std::uint8_t(0x80u >> (bit % 8));
            }
        }
    }
    return out;
}

// The fields every test slice has, one sample per pixel, black is zero.
void set_fields(TIFF* tiff, std::uint32_t width, std::uint32_t height, std::uint16_t bits,
                std::uint16_t compression, std::uint16_t predictor, std::uint32_t rows_per_strip,
                const std::string& description) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    if (predictor != 1) TIFFSetField(tiff, TIFFTAG_PREDICTOR, predictor);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    if (!description.empty()) TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
}

}  // namespace

void write_with_libtiff(const std::string& path, const LibtiffImage& image) {
    TIFF* tiff = TIFFOpen(path.c_str(), image.big_endian ? "wb" : "wl");
    if (!tiff) throw std::runtime_error("cannot create " + path);
    const std::uint32_t rps = image.rows_per_strip ? image.rows_per_strip : image.height;
    set_fields(tiff, image.width, image.height, image.bits, image.compression, image.predictor, rps,
               image.description);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, image.fill_order);
    std::uint32_t strip = 0;
    for (std::uint32_t row = 0; row < image.height; row += rps, ++strip) {
        std::uint32_t rows = std::min(rps, image.height - row);
        std::vector<std::uint8_t> bytes = pack_rows(image, row, rows);
        if (TIFFWriteEncodedStrip(tiff, strip, bytes.data(), tmsize_t(bytes.size())) < 0) {
            TIFFClose(tiff);
            throw std::runtime_error("libtiff could not write " + path);
        }
    }
    TIFFClose(tiff);
}

void write_typed_with_libtiff(const std::string& path, const LibtiffTypedImage& image) {
    std::string mode = image.big_endian ? "wb" : "wl";
    if (image.big_tiff) mode += "8";
    TIFF* tiff = TIFFOpen(path.c_str(), mode.c_str());
    if (!tiff) throw std::runtime_error("cannot create " + path);
    const std::uint32_t rps = image.rows_per_strip ? image.rows_per_strip : image.height;
    set_fields(tiff, image.width, image.height, image.bits, image.compression, image.predictor, rps,
               image.description);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, image.sample_format);
    const std::size_t row = std::size_t{image.width} * image.bits / 8;
    std::uint32_t strip = 0;
    for (std::uint32_t first = 0; first < image.height; first += rps, ++strip) {
        const std::uint32_t rows = std::min(rps, image.height - first);
        // libtiff swaps (and differences) the buffer it is given in place.
        std::vector<std::uint8_t> bytes(
            image.samples.begin() + std::ptrdiff_t(first * row),
            image.samples.begin() + std::ptrdiff_t((first + rows) * row));
        if (TIFFWriteEncodedStrip(tiff, strip, bytes.data(), tmsize_t(bytes.size())) < 0) {
            TIFFClose(tiff);
            throw std::runtime_error("libtiff could not write " + path);
        }
    }
    TIFFClose(tiff);
}

std::vector<std::uint16_t> read_with_libtiff(const std::string& path) {
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) throw std::runtime_error("libtiff cannot open " + path);
    std::uint32_t width = 0, height = 0, rps = 0;
    std::uint16_t bits = 1;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rps);
    rps = std::min(rps, height);
    const std::size_t stride = row_bytes(width, bits);
    std::vector<std::uint16_t> samples(std::size_t{width} * height);
    std::vector<std::uint8_t> strip_bytes(stride * rps);
    for (std::uint32_t row = 0, strip = 0; row < height; row += rps, ++strip) {
        std::uint32_t rows = std::min(rps, height - row);
        if (TIFFReadEncodedStrip(tiff, strip, strip_bytes.data(), tmsize_t(stride * rows)) < 0) {
            TIFFClose(tiff);
            throw std::runtime_error("libtiff cannot decode " + path);
        }
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint8_t* src = &strip_bytes[stride * r];
            std::uint16_t* dst = &samples[std::size_t{row + r} * width];
            if (bits == 16) {
                std::memcpy(dst, src, std::size_t{width} * 2);
                continue;
            }
            std::size_t bit = 0;
            for (std::uint32_t i = 0; i < width; ++i) {
                std::uint32_t v = 0;
                for (unsigned k = 0; k < bits; ++k, ++bit) {
                    v = (v << 1) | ((src[bit / 8] >> (7 - bit % 8)) & 1u);
                }
                dst[i] = std::uint16_t(v);
            }
        }
    }
    TIFFClose(tiff);
    return samples;
}

std::vector<std::uint8_t> expected_output_file(const std::string& scratch_path,
                                               const std::vector<std::uint8_t>& bytes,
                                               std::uint32_t width, std::uint32_t height,
                                               const std::string& description) {
    TIFF* tiff = TIFFOpen(scratch_path.c_str(), "w");
    if (!tiff) throw std::runtime_error("cannot create " + scratch_path);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 1);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    TIFFSetField(tiff, TIFFTAG_ARTIST, "Lumera");
    for (std::uint32_t r = 0; r < height; ++r) {
        TIFFWriteRawStrip(tiff, r, const_cast<std::uint8_t*>(&bytes[std::size_t{r} * width]),
                          tmsize_t(width));
    }
    TIFFClose(tiff);
    return read_file(scratch_path);
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint16_t> phantom_samples(std::uint32_t width, std::uint32_t height, unsigned bits,
                                           std::uint32_t seed, bool noisy) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, noisy ? 400.0 : 3.0);
    const double max_value = std::ldexp(1.0, int(bits)) - 1;
    std::vector<std::uint16_t> samples(std::size_t{width} * height);
    const double cx = width / 2.0, cy = height / 2.0;
    const double radius = 0.45 * std::min(width, height);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            double dx = x - cx, dy = y - cy;
            double d = std::sqrt(dx * dx + dy * dy);
            double value = 0.08 * max_value;  // air
            if (d < radius) value = 0.35 * max_value + 0.1 * max_value * std::sin(x * 0.07);
            if (std::hypot(dx - radius / 3, dy) < radius / 5) value = 0.8 * max_value;  // bone
            value += noise(random) * max_value / 65535.0;
            samples[std::size_t{y} * width + x] =
                std::uint16_t(std::clamp(std::lround(value), 0L, long(max_value)));
        }
    }
    return samples;
}

}  // namespace slabtone::test
