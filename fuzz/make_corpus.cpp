// Writes the seed corpus of the fuzzers: small slices of every kind the
// reader takes, written by libtiff (compressions, bit depths, byte and fill
// orders, differencing, strip layouts), each with a description record.
//
// Usage: make_corpus FOLDER [--with-options | --open]
//   --with-options appends the 12 option bytes the conversion fuzzer reads;
//   --open adds what only the open reader takes: BigTIFF files, signed and
//   float samples, the floating-point predictor, Deflate strips.
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct SampleKind {
    std::uint16_t format = 1;  // SampleFormat
    bool big_tiff = false;
};

bool write_seed(const std::string& path, std::uint16_t compression, std::uint16_t bits,
                bool big_endian, std::uint16_t fill_order, std::uint16_t predictor,
                std::uint32_t rows_per_strip, SampleKind kind = {}) {
    const std::uint32_t width = 19;
    const std::uint32_t height = 7;
    std::string mode = big_endian ? "wb" : "wl";
    if (kind.big_tiff) mode += '8';
    TIFF* tiff = TIFFOpen(path.c_str(), mode.c_str());
    if (!tiff) return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    if (kind.format != 1) TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, kind.format);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, fill_order);
    if (predictor != 1) TIFFSetField(tiff, TIFFTAG_PREDICTOR, predictor);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, "3\t0.0065\t1000\t-0.5\t25\t1800\t9.5\t0.2");
    const std::size_t row_bytes = (std::size_t{width} * bits + 7) / 8;
    bool ok = true;
    std::uint32_t strip = 0;
    for (std::uint32_t row = 0; row < height && ok; row += rows_per_strip, ++strip) {
        std::uint32_t rows = std::min(rows_per_strip, height - row);
        std::vector<std::uint8_t> bytes(row_bytes * rows);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>((i * 37 + row * 11) % 251 / (i % 5 == 0 ? 1 : 3));
        }
        ok = TIFFWriteEncodedStrip(tiff, strip, bytes.data(), tmsize_t(bytes.size())) >= 0;
    }
    TIFFClose(tiff);
    return ok;
}

void append_options(const std::string& path, int variant) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return;
    // Crop on for odd variants: x1 2, y1 1, x2 10, y2 5 (stored + 256);
    // window around the record's calibration.
    const std::uint8_t options[12] = {
        std::uint8_t(variant & 1), 0, 2, 1, 1, 1, 10, 1, 5, 1, 128, 96};
    std::fwrite(options, 1, sizeof options, file);
    std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage : make_corpus FOLDER [--with-options | --open]\n", stderr);
        return 1;
    }
    const bool with_options = argc == 3 && std::strcmp(argv[2], "--with-options") == 0;
    const bool open = argc == 3 && std::strcmp(argv[2], "--open") == 0;
    TIFFSetWarningHandler(nullptr);
    int count = 0;
    for (std::uint16_t compression : {COMPRESSION_NONE, COMPRESSION_PACKBITS, COMPRESSION_LZW}) {
        for (std::uint16_t bits : {1, 4, 8, 12, 16}) {
            for (int variant = 0; variant < 4; ++variant) {
                const bool big = variant & 1;
                const std::uint16_t fill = variant & 2 ? 2 : 1;
                const std::uint16_t predictor =
                    compression == COMPRESSION_LZW && (bits == 8 || bits == 16) && variant < 2 ? 2
                                                                                               : 1;
                const std::uint32_t rows = variant == 3 ? 7 : 2 + variant;
                char name[64];
                std::snprintf(name, sizeof name, "/seed-%u-%u-%d.tif", unsigned(compression),
                              unsigned(bits), variant);
                const std::string path = argv[1] + std::string(name);
                if (!write_seed(path, compression, bits, big, fill, predictor, rows)) return 1;
                if (with_options) append_options(path, variant);
                ++count;
            }
        }
    }
    // (bits, format, predictor) of the open reader's own kinds, in classic
    // and BigTIFF files of either byte order.
    const int open_kinds[][3] = {{32, 3, 1}, {32, 3, 3}, {32, 3, 2}, {16, 2, 2}, {8, 2, 1}};
    for (int k = 0; open && k < 5; ++k) {
        for (int variant = 0; variant < 4; ++variant) {
            const std::uint16_t compressions[] = {COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE,
                                                  COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE};
            const std::uint16_t compression = compressions[variant];
            const auto bits = std::uint16_t(open_kinds[k][0]);
            const auto predictor =
                std::uint16_t(compression != COMPRESSION_NONE ? open_kinds[k][2] : 1);
            char name[64];
            std::snprintf(name, sizeof name, "/open-%d-%d.tif", k, variant);
            if (!write_seed(argv[1] + std::string(name), compression, bits, variant & 1, 1,
                            predictor, 3,
                            SampleKind{std::uint16_t(open_kinds[k][1]), variant >= 1})) {
                return 1;
            }
            ++count;
        }
    }
    std::printf("%d seeds in %s\n", count, argv[1]);
    return 0;
}
