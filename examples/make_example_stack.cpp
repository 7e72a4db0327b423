// Writes the small example stack shipped in examples/stack: 8 slices of
// 256 x 256 16-bit samples of a CT-like phantom (a plastic cylinder holding
// a water-filled tube and a bone-like rod, with reconstruction noise), each
// with a description record whose fields 3 and 4 calibrate the samples:
// LAC [1/cm] = sample / 10000 - 1.
//
// Usage: make_example_stack FOLDER [SLICES]
#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 256;
constexpr double kLacScale = 10000.0;  // sample units per 1/cm
constexpr double kLacOffset = -1.0;    // LAC of sample 0

// Linear attenuation coefficients at about 25 keV, in 1/cm.
constexpr double kAir = 0.0;
constexpr double kPlastic = 0.45;
constexpr double kWater = 0.77;
constexpr double kBone = 3.2;

double phantom_lac(double x, double y, int slice) {
    double r = std::hypot(x, y);
    if (r > 110) return kAir;
    // The rod runs at a slight angle through the stack.
    double rod_x = 35 + 2.0 * slice;
    if (std::hypot(x - rod_x, y + 20) < 14) return kBone;
    if (std::hypot(x + 40, y - 10) < 30) return kWater;
    return kPlastic + 0.03 * std::sin(r / 6.0);  // growth rings of the plastic
}

bool write_slice(const std::string& path, int slice, std::mt19937& random) {
    std::normal_distribution<double> noise(0.0, 0.04);
    std::vector<std::uint16_t> row(kSize);
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff) return false;
    char description[256];
    std::snprintf(description, sizeof description, "%d\t%lf\t%lf\t%f\t%lf\t%d\t%lf\t%lf", slice,
                  0.0065, kLacScale, kLacOffset, 25.0, 1800, 128.5, 0.2);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kSize);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kSize);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description);
    bool ok = true;
    for (int y = 0; y < kSize && ok; ++y) {
        for (int x = 0; x < kSize; ++x) {
            double lac = phantom_lac(x - kSize / 2 + 0.5, y - kSize / 2 + 0.5, slice);
            lac += noise(random);
            double sample = std::round((lac - kLacOffset) * kLacScale);
            row[x] = static_cast<std::uint16_t>(std::fmin(std::fmax(sample, 0.0), 65535.0));
        }
        ok = TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0) == 1;
    }
    TIFFClose(tiff);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage : make_example_stack FOLDER [SLICES]\n", stderr);
        return 1;
    }
    const std::string folder = argv[1];
    const int slices = argc == 3 ? std::atoi(argv[2]) : 8;
    std::mt19937 random(20261207);  // fixed: the stack is the same on every run
    for (int slice = 1; slice <= slices; ++slice) {
        char name[32];
        std::snprintf(name, sizeof name, "/rec%04d.tif", slice);
        if (!write_slice(folder + name, slice, random)) {
            std::fprintf(stderr, "%s%s : cannot write file.\n", folder.c_str(), name);
            return 1;
        }
    }
    return 0;
}
