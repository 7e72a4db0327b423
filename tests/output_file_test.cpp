// The 8-bit output file, read back field by field.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <functional>

#include "convert/byte_slice_writer.hpp"
#include "convert/tiff_stream.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/temp_folder.hpp"
#include "tiff/tiff_directory.hpp"

namespace slabtone::test {
namespace {

std::vector<std::uint16_t> tags_of(const std::vector<std::uint8_t>& file) {
    InputFile input = InputFile::from_bytes(file);
    TiffDirectory directory(input, "out.tif");
    NumberReader& numbers = directory.numbers();
    numbers.cursor().seek(directory.directory_offset());
    std::vector<std::uint16_t> tags;
    for (std::uint32_t n = numbers.read_u16(); n > 0; --n) {
        tags.push_back(numbers.read_u16());
        numbers.cursor().skip(10);
    }
    return tags;
}

struct Size {
    std::uint32_t width, height;
};

void PrintTo(const Size& s, std::ostream* os) {
    *os << s.width << "x" << s.height;
}

class OutputFileTest : public ::testing::TestWithParam<Size> {};

TEST_P(OutputFileTest, TenFieldsOneRowPerStripBytesAsTheyAre) {
    const auto [width, height] = GetParam();
    TempFolder folder;
    std::vector<std::uint8_t> bytes(std::size_t{width} * height);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7 + i / 13);
    const std::string description = "1\t0.500000\t2.000000\t0.000000\t0.000000\t0\t0.0\t0.0";
    write_byte_slice(StackFolder(folder.path()), "ro0001.tif", bytes, width, height, description);

    // Written straight into the file and laid out in memory: libtiff's own
    // file, byte for byte.
    std::vector<std::uint8_t> file = read_file(folder.file("ro0001.tif"));
    EXPECT_EQ(file,
              expected_output_file(folder.file("expected.tif"), bytes, width, height, description));
    const ByteBuffer in_memory =
        encode_byte_slice("ro0001.tif", bytes, width, height, description).value();
    EXPECT_TRUE(
        std::equal(file.begin(), file.end(), in_memory.bytes().begin(), in_memory.bytes().end()));
    // And with the samples put straight into the strips' place.
    const ByteBuffer filled =
        encode_filled_slice("ro0001.tif", width, height, description, {}, [&](std::uint8_t* at) {
            std::memcpy(at, bytes.data(), bytes.size());
        }).value();
    EXPECT_TRUE(std::equal(file.begin(), file.end(), filled.bytes().begin(), filled.bytes().end()));
    EXPECT_EQ(tags_of(file), (std::vector<std::uint16_t>{256, 257, 258, 259, 262, 270, 273, 277,
                                                         278, 279, 284, 315}));

    TIFF* tiff = TIFFOpen(folder.file("ro0001.tif").c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    std::uint32_t w = 0, h = 0, rps = 0;
    std::uint16_t bits = 0, compression = 0, photometric = 0, spp = 0, planar = 0;
    char* text = nullptr;
    char* artist = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &rps);
    TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &text);
    TIFFGetField(tiff, TIFFTAG_ARTIST, &artist);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(compression, COMPRESSION_NONE);
    EXPECT_EQ(photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(spp, 1);
    EXPECT_EQ(rps, 1u);
    EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(std::string(text), description);
    EXPECT_EQ(std::string(artist), "Lumera");
    EXPECT_EQ(TIFFNumberOfStrips(tiff), height);
    std::vector<std::uint8_t> row(width);
    for (std::uint32_t r = 0; r < height; ++r) {
        ASSERT_EQ(TIFFReadRawStrip(tiff, r, row.data(), tmsize_t(width)), tmsize_t(width));
        ASSERT_TRUE(std::equal(row.begin(), row.end(), bytes.begin() + std::ptrdiff_t(r) * width))
            << "row " << r;
    }
    TIFFClose(tiff);
}

INSTANTIATE_TEST_SUITE_P(Sizes, OutputFileTest,
                         ::testing::Values(Size{1, 1}, Size{3, 2}, Size{257, 19}, Size{32767, 2},
                                           Size{40000, 3}, Size{2, 40000}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

TEST(OutputFile, EncodingReusesMemoryAndMovedFromBuffersStartEmpty) {
    std::vector<std::uint8_t> bytes(64 * 32, 9);
    ByteBuffer first = encode_byte_slice("ro0001.tif", bytes, 64, 32, "1\t2").value();
    const std::vector<std::uint8_t> expected(first.bytes().begin(), first.bytes().end());
    const std::uint8_t* memory = first.data();
    ByteBuffer second =
        encode_byte_slice("ro0001.tif", bytes, 64, 32, "1\t2", std::move(first)).value();
    EXPECT_EQ(second.data(), memory);
    EXPECT_TRUE(
        std::equal(expected.begin(), expected.end(), second.bytes().begin(), second.bytes().end()));
    // The moved-from buffer holds nothing and grows like a new one.
    EXPECT_EQ(first.size(), 0u);
    EXPECT_EQ(first.data(), nullptr);
    ASSERT_TRUE(first.resize(10));
    std::memset(first.data(), 1, 10);
    ByteBuffer third =
        encode_byte_slice("ro0001.tif", bytes, 64, 32, "1\t2", std::move(first)).value();
    EXPECT_TRUE(
        std::equal(expected.begin(), expected.end(), third.bytes().begin(), third.bytes().end()));
}

TEST(OutputFile, AFilledFileRecycledForALongerDescriptionStaysInItsMemory) {
    // Slice 9 to slice 10 of a stack whose first field counts slices: the
    // description grows by a byte, the recycled buffer still holds the file.
    const std::vector<std::uint8_t> bytes(512 * 512, 77);
    auto fill = [&](std::uint8_t* at) { std::memcpy(at, bytes.data(), bytes.size()); };
    ByteBuffer first = encode_filled_slice("ro0009.tif", 512, 512, "9\t2", {}, fill).value();
    const std::uint8_t* memory = first.data();
    ByteBuffer second =
        encode_filled_slice("ro0010.tif", 512, 512, "10\t2", std::move(first), fill).value();
    EXPECT_EQ(second.data(), memory);
    const ByteBuffer copied = encode_byte_slice("ro0010.tif", bytes, 512, 512, "10\t2").value();
    EXPECT_TRUE(std::equal(copied.bytes().begin(), copied.bytes().end(), second.bytes().begin(),
                           second.bytes().end()));
}

// Bytes put in place before libtiff writes them count only when libtiff
// writes exactly them from exactly there; any other layout is told.
TEST(OutputFile, PrefilledBytesAreClobberedByAnyOtherLayout) {
    const std::uint8_t other[4] = {1, 2, 3, 4};
    struct Case {
        const char* name;
        std::function<void(MemorySink&, std::uint8_t*)> writes;
        bool clobbered;
    };
    const Case cases[] = {
        {"header_then_each_row_in_place",
         [&](MemorySink& sink, std::uint8_t* rows) {
             sink.write_at(0, other, 4);
             sink.write_at(4, rows, 4);
             sink.write_at(8, rows + 4, 4);
             sink.write_at(12, other, 4);
         },
         false},
        {"other_bytes_over_a_row",
         [&](MemorySink& sink, std::uint8_t*) {
             sink.write_at(0, other, 4);
             sink.write_at(6, other, 4);
         },
         true},
        {"a_row_written_one_place_later",
         [&](MemorySink& sink, std::uint8_t* rows) {
             sink.write_at(0, other, 4);
             sink.write_at(5, rows, 4);
         },
         true},
        {"a_gap_over_the_rows",
         [&](MemorySink& sink, std::uint8_t*) { sink.write_at(16, other, 4); }, true},
    };
    for (const Case& c : cases) {
        ByteBuffer buffer;
        ASSERT_TRUE(buffer.reserve_empty(64));
        MemorySink sink(std::move(buffer));
        std::uint8_t* rows = sink.prefill(4, 8);
        ASSERT_NE(rows, nullptr);
        std::memset(rows, 0xAB, 8);
        c.writes(sink, rows);
        EXPECT_EQ(sink.clobbered(), c.clobbered) << c.name;
        if (!c.clobbered) {
            const ByteBuffer file = sink.take();
            EXPECT_EQ(file.size(), 16u);
            EXPECT_EQ(file.data()[4], 0xAB);
            EXPECT_EQ(file.data()[11], 0xAB);
        }
    }
    ByteBuffer small;
    ASSERT_TRUE(small.reserve_empty(8));
    MemorySink too_small(std::move(small));
    EXPECT_EQ(too_small.prefill(4, 8), nullptr);
}

}  // namespace
}  // namespace slabtone::test
