// The bulk decoders against the byte-at-a-time reference: on many generated
// and mutated files both paths must give the same samples or the same
// message.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <random>

#include "common/memory_pool.hpp"
#include "fuzz/harnesses.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/reader_probe.hpp"
#include "testkit/temp_folder.hpp"
#include "testkit/tiff_builder.hpp"
#include "tiff/tiff_directory.hpp"

namespace slabtone::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

using Outcome = fuzz::DecodeOutcome;

Outcome outcome_of(const Bytes& bytes, DecodePath path) {
    return fuzz::decode_outcome(InputFile::from_bytes(bytes), path);
}

// First difference, for the failure message.
std::string difference(const Outcome& fast, const Outcome& exact) {
    if (fast.failure != exact.failure) {
        auto text = [](const std::optional<Failure>& f) {
            return f ? std::string(failure_text(*f)) : std::string("accepted");
        };
        return "fast: " + text(fast.failure) + " exact: " + text(exact.failure);
    }
    for (std::size_t i = 0; i < std::min(fast.samples.size(), exact.samples.size()); ++i) {
        if (fast.samples[i] != exact.samples[i]) {
            return "sample " + std::to_string(i) + ": fast " + std::to_string(fast.samples[i]) +
                   " exact " + std::to_string(exact.samples[i]);
        }
    }
    return "sizes differ";
}

class FastPathTest : public ::testing::Test {
  protected:
    void SetUp() override { set_memory_budget(std::uint64_t{32} << 20); }
    void TearDown() override { set_memory_budget(std::nullopt); }

    // Libtiff-written files of every kind the reader takes.
    std::vector<Bytes> base_files() {
        std::vector<Bytes> files;
        std::mt19937 random(7);
        const std::uint16_t compressions[] = {COMPRESSION_NONE, COMPRESSION_PACKBITS,
                                              COMPRESSION_LZW};
        int index = 0;
        for (std::uint16_t compression : compressions) {
            for (std::uint16_t bits : {8, 16, 12, 1}) {
                for (int variant = 0; variant < 4; ++variant, ++index) {
                    LibtiffImage image;
                    image.width = 17 + 13 * std::uint32_t(variant);
                    image.height = 9 + 4 * std::uint32_t(variant);
                    image.bits = bits;
                    image.compression = compression;
                    image.big_endian = variant % 2 == 1;
                    image.fill_order = variant >= 2 ? 2 : 1;
                    image.rows_per_strip = std::uint32_t(variant);  // 0: one strip
                    image.predictor =
                        compression == COMPRESSION_LZW && bits % 8 == 0 && variant != 1 ? 2 : 1;
                    image.description = "7\t1\t1000\t-0.5";
                    image.samples = phantom_samples(image.width, image.height, bits,
                                                    std::uint32_t(index), variant % 2 == 0);
                    std::string path = folder_.file("base" + std::to_string(index) + ".tif");
                    write_with_libtiff(path, image);
                    files.push_back(read_file(path));
                }
            }
        }
        return files;
    }

    TempFolder folder_;
};

TEST_F(FastPathTest, GeneratedFilesDecodeAlike) {
    for (const Bytes& file : base_files()) {
        Outcome fast = outcome_of(file, DecodePath::fast);
        Outcome exact = outcome_of(file, DecodePath::exact);
        ASSERT_FALSE(exact.failure) << failure_text(*exact.failure);
        ASSERT_EQ(fast, exact) << difference(fast, exact);
    }
}

TEST_F(FastPathTest, MutatedFilesDecodeAlikeOrFailAlike) {
    std::mt19937 random(20261207);
    int compared = 0;
    int failures = 0;
    for (const Bytes& base : base_files()) {
        for (int mutation = 0; mutation < 60; ++mutation) {
            Bytes file = base;
            switch (mutation % 4) {
                case 0:  // flip a few bytes anywhere
                case 1:
                    for (int k = 0; k < 1 + mutation % 3; ++k) {
                        file[random() % file.size()] ^= std::uint8_t(1u << (random() % 8));
                    }
                    break;
                case 2:  // set a byte to a value that codecs treat specially
                    file[random() % file.size()] = std::uint8_t(
                        std::array<unsigned, 6>{0, 128, 255, 0x80, 0x01, 0x7F}[random() % 6]);
                    break;
                case 3:  // cut the file short
                    file.resize(random() % file.size());
                    break;
            }
            Outcome fast = outcome_of(file, DecodePath::fast);
            Outcome exact = outcome_of(file, DecodePath::exact);
            ASSERT_EQ(fast, exact) << difference(fast, exact) << " (mutation " << mutation << ")";
            ++compared;
            failures += exact.failure ? 1 : 0;
        }
    }
    EXPECT_EQ(compared, 48 * 60);
    // Both outcomes must be well represented for the comparison to mean much.
    EXPECT_GT(failures, compared / 10);
    EXPECT_LT(failures, compared * 9 / 10);
}

TEST_F(FastPathTest, FilesOnDiskDecodeLikeFilesInMemory) {
    // Read from disk, strips come into buffers of their own (or straight
    // into the rows), and when there is no memory for those, byte by byte
    // through the reader's small cache: every way gives what the file in
    // memory gives.
    std::mt19937 random(11);
    int compared = 0;
    for (const Bytes& base : base_files()) {
        for (int variant = 0; variant < 3; ++variant) {
            Bytes file = base;
            if (variant == 1) file[random() % file.size()] ^= std::uint8_t(1u << (random() % 8));
            if (variant == 2) file.resize(random() % file.size());
            const std::string path = folder_.file("disk.tif");
            write_file(path, file);
            const Outcome in_memory = outcome_of(file, DecodePath::exact);
            const std::optional<InputFile> on_disk = InputFile::open(path);
            ASSERT_TRUE(on_disk);
            for (DecodePath decode : {DecodePath::fast, DecodePath::exact}) {
                const Outcome outcome = fuzz::decode_outcome(*on_disk, decode);
                ASSERT_EQ(outcome, in_memory) << difference(outcome, in_memory);
            }
            // Room for the rows and the strip tables only.
            if (!in_memory.failure) {
                const GraySlice shape = read_gray_tiff(InputFile::from_bytes(file), kProbeName,
                                                       ReadRequest{true, false});
                const std::uint64_t rows =
                    (2 * std::uint64_t(shape.width) + 8) * std::uint64_t(shape.height) +
                    RowTable::kSlackBytes;
                set_memory_budget(rows + 8 * std::uint64_t(shape.height) + 64);
                const Outcome tight = fuzz::decode_outcome(*on_disk, DecodePath::fast);
                set_memory_budget(std::uint64_t{32} << 20);
                ASSERT_EQ(tight, in_memory) << difference(tight, in_memory);
            }
            ++compared;
        }
    }
    EXPECT_EQ(compared, 48 * 3);
}

// The position of strip `index`'s entry in the StripOffsets (LONG) table.
std::uint64_t strip_offset_slot(const Bytes& file, std::uint32_t index) {
    InputFile input = InputFile::from_bytes(file);
    TiffDirectory directory(input, kProbeName);
    EXPECT_EQ(directory.find_tag_entry(273), kLong);
    NumberReader& numbers = directory.numbers();
    numbers.read_u32();  // count
    return numbers.read_u32() + std::uint64_t{index} * 4;
}

// Read from disk, strips that follow one another in the file are read at
// once; byte counts that do not match their rows, even when a short strip
// and a long one add up, must end as strip by strip in memory does.
TEST_F(FastPathTest, StripRunsOnDiskDecodeLikeStripByStrip) {
    auto bytes = [](std::size_t count, std::uint8_t first) {
        Bytes strip(count);
        for (std::size_t i = 0; i < count; ++i) strip[i] = std::uint8_t(first + 37 * i);
        return strip;
    };
    // PackBits: a literal run of 8 bytes (one 4-sample 16-bit row).
    auto packbits_row = [&](std::uint8_t first) {
        Bytes strip{7};
        const Bytes literal = bytes(8, first);
        strip.insert(strip.end(), literal.begin(), literal.end());
        return strip;
    };
    struct Case {
        const char* name;
        std::uint32_t bits, compression, predictor;
        Order order;
        std::vector<Bytes> strips;  // one row each, 4 samples wide
    };
    const Case cases[] = {
        {"raw16_rows", 16, 1, 0, Order::little, {bytes(8, 1), bytes(8, 2), bytes(8, 3)}},
        {"raw16_big_endian_differenced", 16, 1, 2, Order::big, {bytes(8, 1), bytes(8, 2)}},
        {"raw16_short_then_long",
         16,
         1,
         0,
         Order::little,
         {bytes(8, 1), bytes(6, 2), bytes(10, 3)}},
        {"raw16_long_then_short",
         16,
         1,
         0,
         Order::little,
         {bytes(10, 1), bytes(6, 2), bytes(8, 3)}},
        {"raw8_rows", 8, 1, 0, Order::little, {bytes(4, 1), bytes(4, 2), bytes(4, 9)}},
        {"packbits_rows",
         16,
         32773,
         0,
         Order::little,
         {packbits_row(1), packbits_row(5), packbits_row(9)}},
        {"packbits_short_row",
         16,
         32773,
         0,
         Order::little,
         {packbits_row(1), Bytes{3, 1, 2, 3, 4}, packbits_row(9)}},
    };
    for (const Case& c : cases) {
        SliceLayout layout;
        layout.width = 4;
        layout.height = std::uint32_t(c.strips.size());
        layout.bits = c.bits;
        layout.compression = c.compression;
        layout.predictor = c.predictor;
        layout.rows_per_strip = 1;
        layout.order = c.order;
        layout.strips = c.strips;
        const Bytes file = build_slice(layout);
        const std::string path = folder_.file("run.tif");
        write_file(path, file);
        const std::optional<InputFile> on_disk = InputFile::open(path);
        ASSERT_TRUE(on_disk);
        const Outcome expected = outcome_of(file, DecodePath::exact);
        const Outcome outcome = fuzz::decode_outcome(*on_disk, DecodePath::fast);
        EXPECT_EQ(outcome, expected) << c.name << ": " << difference(outcome, expected);
    }
}

TEST_F(FastPathTest, StripsCutByTheEndOfTheFileMixWithWholeOnes) {
    // One-row strips; strip 7's data is copied behind the directory and cut
    // short, so the slice holds whole strips (decoded in bulk) and one that
    // runs past the end of the file (decoded byte at a time).
    LibtiffImage image;
    image.width = 40;
    image.height = 20;
    image.bits = 16;
    image.rows_per_strip = 1;
    image.samples = phantom_samples(40, 20, 16, 3, true);
    int compared = 0;
    for (std::uint16_t compression : {COMPRESSION_NONE, COMPRESSION_PACKBITS, COMPRESSION_LZW}) {
        for (bool big : {false, true}) {
            image.compression = compression;
            image.big_endian = big;
            write_with_libtiff(folder_.file("rows.tif"), image);
            const Bytes full = read_file(folder_.file("rows.tif"));
            InputFile input = InputFile::from_bytes(full);
            TiffDirectory directory(input, kProbeName);
            const std::uint64_t slot = strip_offset_slot(full, 7);
            NumberReader numbers(input, directory.byte_order());
            numbers.cursor().seek(slot);
            const std::uint32_t offset = numbers.read_u32();
            for (std::uint32_t kept = 0; kept < 90; kept += 3) {
                Bytes file = full;
                const auto moved_to = std::uint32_t(file.size());
                file.insert(file.end(), full.begin() + offset, full.begin() + offset + kept);
                for (int i = 0; i < 4; ++i) {
                    int shift = big ? 24 - 8 * i : 8 * i;
                    file[slot + std::uint64_t(i)] = std::uint8_t(moved_to >> shift);
                }
                Outcome fast = outcome_of(file, DecodePath::fast);
                Outcome exact = outcome_of(file, DecodePath::exact);
                ASSERT_EQ(fast, exact) << difference(fast, exact) << " kept " << kept;
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 180);
}

}  // namespace
}  // namespace slabtone::test
