// The converter a competent programmer writes with libtiff alone: every
// strip decoded by TIFFReadEncodedStrip, the same arithmetic per pixel as
// slabtone, the 8-bit slice written with TIFFWriteRawStrip per row. bench/run
// checks that its outputs are byte-identical to slabtone's. Handles the
// 16-bit single-channel slices that bench/make-stack writes, and its float
// slices (LAC values: scale 1, offset 0), whatever libtiff decodes
// (Deflate and the floating-point predictor included).
//
// Usage: libtiff-baseline STA DST LACMIN LACMAX
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kFormat = "%d\t%lf\t%lf\t%f\t%lf\t%d\t%lf\t%lf";

struct Record {
    int f1 = 0;
    double f2 = 0, scale = 0;
    float offset = 0;
    double f5 = 0;
    int f6 = 0;
    double f7 = 0, f8 = 0;
};

std::uint8_t quantise(double v, double scale, float offset, double lac_min, double window_scale) {
    double t = v / scale;
    t = t + static_cast<double>(offset);
    t = t - lac_min;
    double p = t * window_scale;
    if (!(p < 2147483648.0)) return p != p ? 0 : 255;
    if (!(p > -2147483649.0)) return 0;
    auto q = static_cast<std::int32_t>(p);
    return q <= 0 ? 0 : q > 255 ? 255 : static_cast<std::uint8_t>(q);
}

bool convert(int slice, double lac_min, double window_scale, Record& record) {
    char in_name[32], out_name[32];
    std::snprintf(in_name, sizeof in_name, "rec%04d.tif", slice);
    std::snprintf(out_name, sizeof out_name, "ro%04d.tif", slice);
    TIFF* in = TIFFOpen(in_name, "r");
    if (!in) return false;
    std::uint32_t width = 0, height = 0, rows_per_strip = 0;
    char* text = nullptr;
    TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(in, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    if (TIFFGetField(in, TIFFTAG_IMAGEDESCRIPTION, &text) == 1) {
        std::sscanf(text, kFormat, &record.f1, &record.f2, &record.scale, &record.offset,
                    &record.f5, &record.f6, &record.f7, &record.f8);
    }
    std::uint16_t bits = 16;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(in, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(in, TIFFTAG_SAMPLEFORMAT, &format);
    const bool floats = format == SAMPLEFORMAT_IEEEFP && bits == 32;
    const std::size_t sample_bytes = floats ? 4 : 2;
    std::vector<std::uint8_t> samples(std::size_t{width} * height * sample_bytes);
    const std::uint32_t strips = TIFFNumberOfStrips(in);
    for (std::uint32_t s = 0; s < strips; ++s) {
        std::size_t first_row = std::size_t{s} * rows_per_strip;
        std::size_t rows = std::min<std::size_t>(rows_per_strip, height - first_row);
        if (TIFFReadEncodedStrip(in, s, &samples[first_row * width * sample_bytes],
                                 tmsize_t(rows * width * sample_bytes)) < 0) {
            TIFFClose(in);
            return false;
        }
    }
    TIFFClose(in);

    std::vector<std::uint8_t> bytes(std::size_t{width} * height);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (floats) {
            float v;
            std::memcpy(&v, &samples[4 * i], 4);
            bytes[i] = quantise(v, 1, 0, lac_min, window_scale);
        } else {
            std::uint16_t v;
            std::memcpy(&v, &samples[2 * i], 2);
            bytes[i] = quantise(v, record.scale, record.offset, lac_min, window_scale);
        }
    }
    char description[1024];
    std::snprintf(description, sizeof description, kFormat, record.f1, record.f2, window_scale,
                  lac_min, record.f5, record.f6, record.f7, record.f8);

    TIFF* out = TIFFOpen(out_name, "w");
    if (!out) return false;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 1);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(out, TIFFTAG_IMAGEDESCRIPTION, description);
    TIFFSetField(out, TIFFTAG_ARTIST, "Lumera");
    for (std::uint32_t r = 0; r < height; ++r) {
        TIFFWriteRawStrip(out, r, &bytes[std::size_t{r} * width], tmsize_t(width));
    }
    TIFFClose(out);
    std::printf("%s(%s) -> %s(8bit)\r", in_name, floats ? "32bit float" : "16bit", out_name);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage : libtiff-baseline STA DST LACMIN LACMAX\n", stderr);
        return 1;
    }
    const int first = std::atoi(argv[1]);
    const int last = std::atoi(argv[2]);
    const double lac_min = std::atof(argv[3]);
    const double lac_max = std::atof(argv[4]);
    const double window_scale = 255.0 / (lac_max - lac_min);
    Record record;
    for (int slice = first; slice <= last; ++slice) {
        if (!convert(slice, lac_min, window_scale, record)) {
            std::fprintf(stderr, "libtiff-baseline : slice %d failed\n", slice);
            return 1;
        }
    }
    std::printf("\nfinish\n");
    return 0;
}
