// The open reader against what libtiff wrote: float, signed and unsigned
// samples, either byte order, classic and BigTIFF files, uncompressed, LZW
// and PackBits strips, with and without the predictors, strips of 64 rows
// as UFO writes them. Then the conversion of such slices through --input,
// and the attribute checks that refuse what the open reader does not take.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <tiffio.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/failure.hpp"
#include "convert/lac_window.hpp"
#include "testkit/program_fixture.hpp"
#include "testkit/tiff_builder.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone::test {
namespace {

struct OpenCase {
    const char* name;
    std::uint16_t bits;
    std::uint16_t format;  // SampleFormat
    std::uint16_t compression;
    std::uint16_t predictor;
    bool big_endian;
    bool big_tiff;
};

void PrintTo(const OpenCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr std::uint32_t kWidth = 37;
constexpr std::uint32_t kHeight = 150;  // strips of 64 rows: 64, 64, 22

// Values of every kind the samples can hold: extremes, and for floats
// NaN, infinities, -0.0, subnormals and whole numbers, among a smooth
// phantom that the predictors difference well.
std::vector<std::uint8_t> sample_bytes(const OpenCase& c) {
    std::vector<std::uint8_t> bytes;
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              -0.0f,
                              std::numeric_limits<float>::denorm_min(),
                              -std::numeric_limits<float>::denorm_min(),
                              std::numeric_limits<float>::max(),
                              1.0f,
                              0.000412f};
    for (std::uint32_t i = 0; i < kWidth * kHeight; ++i) {
        const double smooth = std::sin(i * 0.01) * 0.8 + (i % kWidth) * 0.003;
        if (c.bits == 32) {
            const float value = i < std::size(specials) ? specials[i] : static_cast<float>(smooth);
            const auto bits = std::bit_cast<std::uint32_t>(value);
            bytes.insert(bytes.end(), reinterpret_cast<const std::uint8_t*>(&bits),
                         reinterpret_cast<const std::uint8_t*>(&bits) + 4);
        } else if (c.bits == 16) {
            const auto value =
                static_cast<std::uint16_t>(i == 0   ? 0x8000u
                                           : i == 1 ? 0x7FFFu
                                                    : static_cast<std::uint16_t>(smooth * 30000));
            bytes.insert(bytes.end(), reinterpret_cast<const std::uint8_t*>(&value),
                         reinterpret_cast<const std::uint8_t*>(&value) + 2);
        } else {
            bytes.push_back(static_cast<std::uint8_t>(i == 0   ? 0x80u
                                                      : i == 1 ? 0x7Fu
                                                               : smooth * 100));
        }
    }
    return bytes;
}

// What the rows must hold: floats as they are, 16-bit samples as they are,
// signed 8-bit samples widened with their sign.
std::vector<std::uint8_t> expected_rows(const OpenCase& c, const std::vector<std::uint8_t>& in) {
    if (c.bits != 8) return in;
    std::vector<std::uint8_t> out;
    for (std::uint8_t byte : in) {
        const auto value = c.format == 2
                               ? static_cast<std::uint16_t>(static_cast<std::int8_t>(byte))
                               : std::uint16_t{byte};
        out.insert(out.end(), reinterpret_cast<const std::uint8_t*>(&value),
                   reinterpret_cast<const std::uint8_t*>(&value) + 2);
    }
    return out;
}

class OpenReaderTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenReaderTest, ReadsWhatLibtiffWrote) {
    const OpenCase& c = GetParam();
    if (!TIFFIsCODECConfigured(c.compression)) {
        GTEST_SKIP() << "this libtiff writes no such strips";  // the Windows build's
    }
    TempFolder folder;
    LibtiffTypedImage image;
    image.width = kWidth;
    image.height = kHeight;
    image.bits = c.bits;
    image.sample_format = c.format;
    image.compression = c.compression;
    image.predictor = c.predictor;
    image.big_endian = c.big_endian;
    image.big_tiff = c.big_tiff;
    image.rows_per_strip = 64;
    image.description = R"({"shape": [150, 37]})";
    image.samples = sample_bytes(c);
    const std::string path = folder.file("slice.tif");
    write_typed_with_libtiff(path, image);

    ReaderBuffers buffers;
    const GraySlice slice = read_open_tiff(path, "slice.tif", buffers);
    EXPECT_EQ(slice.width, std::int32_t(kWidth));
    EXPECT_EQ(slice.height, std::int32_t(kHeight));
    EXPECT_EQ(slice.description, image.description);
    EXPECT_EQ(slice.kind, c.format == 3   ? SampleKind::floating
                          : c.format == 2 ? SampleKind::signed_int
                                          : SampleKind::unsigned_int);
    const std::vector<std::uint8_t> expected = expected_rows(c, image.samples);
    const std::size_t row_bytes = expected.size() / kHeight;
    for (std::uint32_t r = 0; r < kHeight; ++r) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(slice.rows.row(r));
        ASSERT_EQ(std::memcmp(row, expected.data() + r * row_bytes, row_bytes), 0) << "row " << r;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, OpenReaderTest,
    ::testing::Values(
        OpenCase{"float_raw_little", 32, 3, COMPRESSION_NONE, 1, false, false},
        OpenCase{"float_raw_big_endian", 32, 3, COMPRESSION_NONE, 1, true, false},
        OpenCase{"float_bigtiff_as_ufo_writes", 32, 3, COMPRESSION_NONE, 1, false, true},
        OpenCase{"float_bigtiff_big_endian", 32, 3, COMPRESSION_NONE, 1, true, true},
        OpenCase{"float_lzw", 32, 3, COMPRESSION_LZW, 1, false, false},
        OpenCase{"float_lzw_predictor_3", 32, 3, COMPRESSION_LZW, 3, false, false},
        OpenCase{"float_lzw_predictor_2", 32, 3, COMPRESSION_LZW, 2, false, true},
        OpenCase{"float_packbits_big_endian", 32, 3, COMPRESSION_PACKBITS, 1, true, false},
        OpenCase{"float_deflate", 32, 3, COMPRESSION_ADOBE_DEFLATE, 1, false, false},
        OpenCase{"float_deflate_predictor_3", 32, 3, COMPRESSION_ADOBE_DEFLATE, 3, false, true},
        OpenCase{"float_deflate_32946_predictor_2", 32, 3, COMPRESSION_DEFLATE, 2, true, false},
        OpenCase{"signed16_deflate_predictor_2", 16, 2, COMPRESSION_ADOBE_DEFLATE, 2, false, false},
        OpenCase{"unsigned16_classic_deflate", 16, 1, COMPRESSION_ADOBE_DEFLATE, 1, true, false},
        OpenCase{"signed16_raw", 16, 2, COMPRESSION_NONE, 1, false, false},
        OpenCase{"signed16_lzw_predictor_2_big_endian", 16, 2, COMPRESSION_LZW, 2, true, false},
        OpenCase{"signed8_lzw_predictor_2", 8, 2, COMPRESSION_LZW, 2, false, true},
        OpenCase{"unsigned16_bigtiff_lzw", 16, 1, COMPRESSION_LZW, 2, true, true},
        OpenCase{"unsigned8_bigtiff_packbits", 8, 1, COMPRESSION_PACKBITS, 1, false, true},
        // The strict reader's own files, read its way.
        OpenCase{"unsigned16_classic", 16, 1, COMPRESSION_LZW, 2, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Predictor 3 is defined on the bytes most significant first, whatever the
// file's byte order (TIFF Technote 3); libtiff 4.5 reads its own big-endian
// files of it back byte-swapped, so this one is built by hand.
TEST(OpenReader, FloatingPredictorOfABigEndianFileFollowsTheTechnote) {
    const float values[] = {1.5f, -2.25f, 0.000412f};
    // Planes of the most significant bytes first, then each row's bytes
    // differenced from the one before.
    std::vector<std::uint8_t> planes(12);
    for (int i = 0; i < 3; ++i) {
        const auto bits = std::bit_cast<std::uint32_t>(values[i]);
        for (int k = 0; k < 4; ++k) planes[k * 3 + i] = std::uint8_t(bits >> (24 - 8 * k));
    }
    std::vector<std::uint8_t> strip(12);
    strip[0] = planes[0];
    for (int i = 1; i < 12; ++i) strip[i] = std::uint8_t(planes[i] - planes[i - 1]);
    TiffBuilder tiff(Order::big);
    const std::uint32_t at = tiff.add_data(strip);
    tiff.long_tag(256, 3).long_tag(257, 1).short_tag(258, 32).short_tag(259, 1).short_tag(262, 1);
    tiff.long_tag(273, at).short_tag(277, 1).long_tag(278, 1).long_tag(279, 12);
    tiff.short_tag(317, 3).short_tag(339, 3);
    const InputFile file = InputFile::from_bytes(tiff.build());
    ReaderBuffers buffers;
    const GraySlice slice = read_open_tiff(file, "be.tif", buffers);
    float got[3];
    std::memcpy(got, slice.rows.row(0), sizeof got);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(got[i], values[i]) << i;
}

// A Deflate strip that does not inflate to exactly its rows' bytes.
TEST(OpenReader, DamagedDeflateStripsFailWithTheirMessage) {
    const std::vector<std::uint8_t> rows(16, 7);  // one row of four floats
    auto zlib = [](const std::vector<std::uint8_t>& bytes) {
        libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
        std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(compressor, bytes.size()));
        out.resize(libdeflate_zlib_compress(compressor, bytes.data(), bytes.size(), out.data(),
                                            out.size()));
        libdeflate_free_compressor(compressor);
        return out;
    };
    std::vector<std::uint8_t> garbage = zlib(rows);
    garbage[garbage.size() / 2] ^= 0x55;
    garbage.back() ^= 0xFF;  // the checksum, at least, is wrong
    const struct {
        std::vector<std::uint8_t> strip;
        const char* message;
    } cases[] = {
        {zlib(rows), nullptr},
        {zlib(std::vector<std::uint8_t>(12, 7)), "Deflate too few codes."},
        {zlib(std::vector<std::uint8_t>(17, 7)), "Deflate too many codes."},
        {garbage, "Deflate data error."},
        {{0x78}, "Deflate data error."},
    };
    for (const auto& c : cases) {
        TiffBuilder tiff;
        const std::uint32_t at = tiff.add_data(c.strip);
        tiff.long_tag(256, 4).long_tag(257, 1).short_tag(258, 32).short_tag(259, 8);
        tiff.short_tag(262, 1).long_tag(273, at).short_tag(277, 1).long_tag(278, 1);
        tiff.long_tag(279, std::uint32_t(c.strip.size())).short_tag(339, 3);
        const InputFile file = InputFile::from_bytes(tiff.build());
        ReaderBuffers buffers;
        try {
            read_open_tiff(file, "z.tif", buffers);
            EXPECT_EQ(c.message, nullptr);
        } catch (const SliceError& error) {
            ASSERT_NE(c.message, nullptr) << error.what();
            EXPECT_EQ(error.message(), c.message);
        }
    }
}

// SampleFormat is checked right after BitsPerSample: a width missing
// still comes first, a planar configuration after it.
TEST(OpenReader, SampleFormatsItDoesNotTake) {
    struct Case {
        std::uint32_t bits, format;
        bool width;
        const char* message;
    };
    const Case cases[] = {
        {16, 3, true, "unsupported sample format."},
        {64, 3, true, "unsupported sample format."},
        {32, 2, true, "unsupported sample format."},
        {16, 4, true, "unsupported sample format."},
        {32, 1, true, "too many bits per sample."},
        {32, 3, false, "primary image attribute not found."},
    };
    for (const Case& c : cases) {
        TiffBuilder tiff;
        if (c.width) tiff.long_tag(256, 4);
        tiff.long_tag(257, 1).short_tag(258, c.bits).short_tag(262, 1).short_tag(339, c.format);
        tiff.short_tag(284, 2);  // a planar configuration it would refuse next
        const InputFile file = InputFile::from_bytes(tiff.build());
        ReaderBuffers buffers;
        try {
            read_open_tiff(file, "x.tif", buffers);
            ADD_FAILURE() << "accepted " << c.bits << " bits, format " << c.format;
        } catch (const SliceError& error) {
            EXPECT_EQ(error.message(), c.message) << c.bits << " bits, format " << c.format;
        }
    }
}

// Each sample's byte, by the conversion's own arithmetic, for float values
// on and beside whole products and every special value.
TEST(OpenConversion, FloatValuesThroughTheWindow) {
    // LAC 0..25.5: window scale 10, so LAC v gives the product 10 v.
    const WindowCalibration window{1, 0, 0, 255.0 / 25.5};
    const struct {
        float value;
        std::uint8_t grey;
    } cases[] = {
        {0.0f, 0},
        {-0.0f, 0},
        {0.1f, 1},  // 10 * 0.100000001490116... just above 1
        {std::nextafter(0.1f, 0.0f), 0},
        {12.7f, 126},  // 126.99999809265137
        {12.75f, 127},
        {25.5f, 255},
        {std::nextafter(25.5f, 0.0f), 254},
        {1e30f, 255},
        {-1e30f, 0},
        {std::numeric_limits<float>::infinity(), 255},
        {-std::numeric_limits<float>::infinity(), 0},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {std::numeric_limits<float>::denorm_min(), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quantise_value(static_cast<double>(c.value), window), c.grey) << c.value;
    }
    // Signed extremes under a calibration: -32768 is -32768.0.
    const WindowCalibration signed_window{1000, -0.5f, -30, 255.0 / 60};
    EXPECT_EQ(quantise_value(-32768.0, signed_window), 0);   // (-32.768 - 0.5 + 30) * 4.25 < 0
    EXPECT_EQ(quantise_value(32767.0, signed_window), 255);  // 264.6...
    EXPECT_EQ(quantise_value(-7232.0, signed_window), 94);   // 94.639
    EXPECT_EQ(quantise_value(-23432.0, signed_window), 25);  // 25.789
}

// A float stack through the program: --input reads it as LAC values, the
// default run still refuses it, and the output record carries the window.
TEST_F(ProgramTest, FloatSlicesConvertThroughInput) {
    LibtiffTypedImage image;
    image.width = 3;
    image.height = 2;
    image.big_tiff = true;
    const float values[] = {-0.5f, 0.0f, 0.501f, 1.0f, 2.0f, std::nanf("")};
    image.samples.resize(sizeof values);
    std::memcpy(image.samples.data(), values, sizeof values);
    image.description = R"({"shape": [2, 3]})";
    write_typed_with_libtiff(folder_.file("slice-00001.tif"), image);
    image.big_tiff = false;
    write_typed_with_libtiff(folder_.file("rec0001.tif"), image);

    ProgramResult result = run({"1", "1", "0", "2"});
    EXPECT_EQ(result.err, "rec0001.tif : too many bits per sample.\n");
    result = run({"--input", "slice-%05i.tif", "1", "1", "0", "2"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "slice-00001.tif(32bit float) -> ro0001.tif(8bit)\r\nfinish\n");
    std::vector<std::uint8_t> grey;
    const WindowCalibration window{1, 0, 0, 127.5};
    for (float v : values) grey.push_back(quantise_value(v, window));
    EXPECT_EQ(grey, (std::vector<std::uint8_t>{0, 0, 63, 127, 255, 0}));
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")),
              expected_output_file(scratch_.file("expected.tif"), grey, 3, 2,
                                   "0\t0.000000\t127.500000\t0.000000\t0.000000\t0\t0.000000\t"
                                   "0.000000"));
    // --calibration applies to float samples too: LAC = v / 0.5 + 0.
    result = run({"--input", "slice-%05i.tif", "--calibration", "0.5", "0", "1", "1", "0", "2"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    const WindowCalibration halved{0.5, 0, 0, 127.5};
    grey.clear();
    for (float v : values) grey.push_back(quantise_value(v, halved));
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")),
              expected_output_file(scratch_.file("expected.tif"), grey, 3, 2,
                                   "0\t0.000000\t127.500000\t0.000000\t0.000000\t0\t0.000000\t"
                                   "0.000000"));
}

}  // namespace
}  // namespace slabtone::test
