// Writes a CT-like benchmark stack rec0001.tif ... through libtiff.
//
// Usage: make-stack FOLDER VARIANT [COUNT [SIZE]]
//   VARIANT: raw (one strip), raw-rows (one row per strip), lzw,
//            lzw-pred (LZW with horizontal differencing), packbits,
//            raw-be (big-endian, one strip); float (32-bit float LAC values
//            in BigTIFF, 64 rows per strip, as UFO writes them), float-zip
//            (float, Deflate with the floating-point predictor)
//   COUNT:   number of slices (default 32); SIZE: width and height (2048)
//
// The phantom is a cylinder of plastic with water- and bone-like inclusions
// that move from slice to slice, plus Gaussian reconstruction noise, so that
// LZW compresses it like real reconstructions (about 1.3 to 2 times).
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Variant {
    const char* name;
    std::uint16_t compression;
    std::uint16_t predictor;
    bool big_endian;
    bool row_strips;
    bool floats = false;  // LAC values as 32-bit floats, with no record
    bool big_tiff = false;
};

constexpr Variant kVariants[] = {
    {"raw", COMPRESSION_NONE, 1, false, false},
    {"raw-rows", COMPRESSION_NONE, 1, false, true},
    {"lzw", COMPRESSION_LZW, 1, false, false},
    {"lzw-pred", COMPRESSION_LZW, 2, false, false},
    {"packbits", COMPRESSION_PACKBITS, 1, false, false},
    {"raw-be", COMPRESSION_NONE, 1, true, false},
    {"float", COMPRESSION_NONE, 1, false, false, true, true},
    {"float-zip", COMPRESSION_ADOBE_DEFLATE, 3, false, false, true, false},
};

constexpr double kLacScale = 10000.0;
constexpr double kLacOffset = -1.0;

double phantom_lac(double x, double y, int slice, double size) {
    double r = std::hypot(x, y) / size;
    if (r > 0.45) return 0.0;
    if (std::hypot(x / size - 0.12 - 0.002 * slice, y / size + 0.08) < 0.05) return 3.2;
    if (std::hypot(x / size + 0.15, y / size - 0.04) < 0.11) return 0.77;
    return 0.45 + 0.03 * std::sin(r * 180.0);
}

bool write_slice(const std::string& path, const Variant& v, int slice, std::uint32_t size,
                 std::mt19937& random) {
    std::normal_distribution<double> noise(0.0, 0.001);
    const std::string mode = std::string(v.big_endian ? "wb" : "wl") + (v.big_tiff ? "8" : "");
    TIFF* tiff = TIFFOpen(path.c_str(), mode.c_str());
    if (!tiff) return false;
    char description[256];
    std::snprintf(description, sizeof description, "%d\t%lf\t%lf\t%f\t%lf\t%d\t%lf\t%lf", slice,
                  0.00325, kLacScale, kLacOffset, 25.0, 3600, size / 2.0 + 0.5, 0.1);
    const unsigned sample_bytes = v.floats ? 4 : 2;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, size);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, size);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, sample_bytes * 8);
    if (v.floats) TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, v.compression);
    if (v.predictor != 1) TIFFSetField(tiff, TIFFTAG_PREDICTOR, v.predictor);
    std::uint32_t rows_per_strip = v.row_strips ? 1
                                   : v.big_tiff ? 64
                                   : v.compression == COMPRESSION_NONE
                                       ? size
                                       : TIFFDefaultStripSize(tiff, 0);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    if (!v.floats) TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description);

    std::vector<std::uint16_t> samples(std::size_t{size} * size);
    std::vector<float> values(v.floats ? samples.size() : 0);
    for (std::uint32_t y = 0; y < size; ++y) {
        for (std::uint32_t x = 0; x < size; ++x) {
            double lac = phantom_lac(x - size / 2.0, y - size / 2.0, slice, size) + noise(random);
            double value = std::round((lac - kLacOffset) * kLacScale);
            samples[std::size_t{y} * size + x] =
                static_cast<std::uint16_t>(std::fmin(std::fmax(value, 0.0), 65535.0));
            if (v.floats) values[std::size_t{y} * size + x] = static_cast<float>(lac);
        }
    }
    bool ok = true;
    std::uint32_t strip = 0;
    for (std::uint32_t row = 0; row < size && ok; row += rows_per_strip, ++strip) {
        std::uint32_t rows = std::min(rows_per_strip, size - row);
        void* data = v.floats ? static_cast<void*>(&values[std::size_t{row} * size])
                              : static_cast<void*>(&samples[std::size_t{row} * size]);
        ok = TIFFWriteEncodedStrip(tiff, strip, data,
                                   tmsize_t(std::size_t{rows} * size * sample_bytes)) >= 0;
    }
    TIFFClose(tiff);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fputs("usage : make-stack FOLDER VARIANT [COUNT [SIZE]]\n", stderr);
        return 1;
    }
    const Variant* variant = nullptr;
    for (const Variant& v : kVariants) {
        if (std::strcmp(v.name, argv[2]) == 0) variant = &v;
    }
    if (!variant) {
        std::fprintf(stderr, "make-stack : unknown variant %s\n", argv[2]);
        return 1;
    }
    int count = argc > 3 ? std::atoi(argv[3]) : 32;
    auto size = static_cast<std::uint32_t>(argc > 4 ? std::atoi(argv[4]) : 2048);
    std::mt19937 random(12345);
    for (int slice = 1; slice <= count; ++slice) {
        char name[32];
        std::snprintf(name, sizeof name, "/rec%04d.tif", slice);
        if (!write_slice(argv[1] + std::string(name), *variant, slice, size, random)) {
            std::fprintf(stderr, "make-stack : cannot write %s%s\n", argv[1], name);
            return 1;
        }
    }
    return 0;
}
