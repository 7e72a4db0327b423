// Files written by libtiff decode to exactly the samples libtiff reads back.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>

#include "testkit/libtiff_files.hpp"
#include "testkit/reader_probe.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {
namespace {

struct Variant {
    std::uint16_t compression;
    std::uint16_t bits;
    bool big_endian;
    std::uint16_t fill_order;
    std::uint16_t predictor;
    std::uint32_t rows_per_strip;  // 0: one strip
    std::uint32_t width;
    std::uint32_t height;
    bool noisy;
};

std::string variant_name(const Variant& v) {
    std::string name = v.compression == COMPRESSION_NONE  ? "raw"
                       : v.compression == COMPRESSION_LZW ? "lzw"
                                                          : "packbits";
    name += "_b" + std::to_string(v.bits) + (v.big_endian ? "_MM" : "_II");
    name += "_fill" + std::to_string(v.fill_order) + "_pred" + std::to_string(v.predictor);
    name += "_rps" + std::to_string(v.rows_per_strip);
    name += "_" + std::to_string(v.width) + "x" + std::to_string(v.height);
    return name + (v.noisy ? "_noisy" : "_smooth");
}

void PrintTo(const Variant& v, std::ostream* os) {
    *os << variant_name(v);
}

class LibtiffDecodeTest : public ::testing::TestWithParam<Variant> {};

TEST_P(LibtiffDecodeTest, SamplesMatchLibtiff) {
    const Variant& v = GetParam();
    TempFolder folder;
    LibtiffImage image;
    image.width = v.width;
    image.height = v.height;
    image.bits = v.bits;
    image.compression = v.compression;
    image.predictor = v.predictor;
    image.fill_order = v.fill_order;
    image.big_endian = v.big_endian;
    image.rows_per_strip = v.rows_per_strip;
    image.description = "1\t2\t3";
    image.samples = phantom_samples(v.width, v.height, v.bits, v.width * 31 + v.height, v.noisy);
    const std::string path = folder.file("slice.tif");
    write_with_libtiff(path, image);

    std::vector<std::uint16_t> expected = read_with_libtiff(path);
    ASSERT_EQ(expected, image.samples) << "libtiff does not round-trip this variant";
    GraySlice slice = read_gray_tiff(path);
    EXPECT_EQ(slice.description, "1\t2\t3");
    const std::vector<std::uint16_t> got = samples_of(slice.rows);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], expected[i]) << "first difference at sample " << i;
    }
}

std::vector<Variant> uncompressed_and_packbits() {
    std::vector<Variant> variants;
    for (std::uint16_t compression : {COMPRESSION_NONE, COMPRESSION_PACKBITS}) {
        for (std::uint16_t bits : {8, 16, 4, 12}) {
            for (bool big : {false, true}) {
                for (std::uint16_t fill : {1, 2}) {
                    for (std::uint32_t rps : {0u, 1u, 7u}) {
                        variants.push_back({compression, bits, big, fill, 1, rps, 37, 23, true});
                    }
                }
            }
        }
    }
    return variants;
}

std::vector<Variant> lzw() {
    std::vector<Variant> variants;
    for (std::uint16_t predictor : {1, 2}) {
        for (std::uint16_t bits : {8, 16}) {
            for (bool big : {false, true}) {
                for (std::uint16_t fill : {1, 2}) {
                    for (std::uint32_t rps : {0u, 1u, 16u}) {
                        for (bool noisy : {true, false}) {
                            variants.push_back({COMPRESSION_LZW, bits, big, fill, predictor, rps,
                                                300, 200, noisy});
                        }
                    }
                }
            }
        }
    }
    // Large single strips pass through every code width and many clears.
    for (std::uint16_t predictor : {1, 2}) {
        for (bool noisy : {true, false}) {
            variants.push_back({COMPRESSION_LZW, 16, false, 1, predictor, 0, 2048, 64, noisy});
        }
    }
    // Packed widths: libtiff has no predictor for them.
    for (std::uint16_t bits : {4, 12}) {
        variants.push_back({COMPRESSION_LZW, bits, true, 2, 1, 5, 37, 23, true});
    }
    return variants;
}

INSTANTIATE_TEST_SUITE_P(Lzw, LibtiffDecodeTest, ::testing::ValuesIn(lzw()),
                         [](const auto& info) { return variant_name(info.param); });

INSTANTIATE_TEST_SUITE_P(Written, LibtiffDecodeTest,
                         ::testing::ValuesIn(uncompressed_and_packbits()),
                         [](const auto& info) { return variant_name(info.param); });

}  // namespace
}  // namespace slabtone::test
