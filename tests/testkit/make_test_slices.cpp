// make-test-slices FOLDER: writes the slices the Python module's tests read,
// with the test kit's builders: a stack rec0001.tif .. rec0006.tif in every
// compression, whose record passes from slice to slice, and broken files
// broken-NAME.tif, each stopped by the reader with one of its messages.
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "testkit/libtiff_files.hpp"
#include "testkit/tiff_builder.hpp"

namespace {

using namespace slabtone::test;
using Bytes = std::vector<std::uint8_t>;

void write_stack(const std::string& folder) {
    // Slice 2 supplies two fields and keeps slice 1's calibration; slice 5
    // is narrower than the others.
    const char* records[] = {"5\t0.1\t1000\t-0.5\t1\t2\t3\t4",
                             "6\t0.2",
                             "7\t0.3\t800\t-0.25",
                             "8",
                             "9\t0.4\t1200\t0.125",
                             "10"};
    const std::uint16_t compressions[] = {COMPRESSION_NONE, COMPRESSION_LZW,  COMPRESSION_PACKBITS,
                                          COMPRESSION_LZW,  COMPRESSION_NONE, COMPRESSION_PACKBITS};
    for (std::uint32_t i = 0; i < 6; ++i) {
        LibtiffImage image;
        image.width = i == 4 ? 80 : 96;
        image.height = 64;
        image.compression = compressions[i];
        image.rows_per_strip = i % 2 == 1 ? 8 : 0;
        image.big_endian = i == 3;
        image.description = records[i];
        image.samples = phantom_samples(image.width, image.height, 16, i + 1, true);
        char name[32];
        std::snprintf(name, sizeof name, "/rec%04u.tif", i + 1);
        write_with_libtiff(folder + name, image);
    }
}

Bytes with_layout(void (*change)(SliceLayout&)) {
    SliceLayout layout;
    layout.strips = {{1, 2, 3, 4, 5, 6, 7, 8}};
    layout.description = "1\t0.5\t100\t0\t1\t2\t3\t4";
    change(layout);
    return build_slice(layout);
}

void write_broken(const std::string& folder) {
    const std::pair<const char*, Bytes> broken[] = {
        {"empty", {}},
        {"bad-magic", {'I', 'I', 43, 0, 8, 0, 0, 0}},
        {"no-width", TiffBuilder().short_tag(257, 2).short_tag(258, 8).build()},
        {"17-bits", with_layout([](SliceLayout& l) { l.bits = 17; })},
        {"jpeg", with_layout([](SliceLayout& l) { l.compression = 7; })},
        {"fill-order-3", with_layout([](SliceLayout& l) { l.fill_order = 3; })},
        {"short-strip", with_layout([](SliceLayout& l) {
             l.strips = {{1, 2, 3}};
         })},
        {"long-strip", with_layout([](SliceLayout& l) {
             l.strips = {{1, 2, 3, 4, 5, 6, 7, 8, 9}};
         })},
        {"lzw-no-clear", with_layout([](SliceLayout& l) {
             l.compression = 5;
             l.strips = {{0x00, 0x40, 0x40, 0x00}};
         })},
        {"no-calibration", with_layout([](SliceLayout& l) { l.description = "1\t0.5"; })},
    };
    for (const auto& [name, bytes] : broken) {
        write_file(folder + "/broken-" + name + ".tif", bytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage : make-test-slices FOLDER\n", stderr);
        return 2;
    }
    write_stack(argv[1]);
    write_broken(argv[1]);
    return 0;
}
