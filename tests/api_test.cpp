// The public header's one-slice functions: a slice read straight into the
// caller's memory is the slice read_slice_file copies out, and grey_values,
// which keeps a table per thread, is the per-sample conversion whatever
// windows came before on that thread or on others.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "convert/lac_window.hpp"
#include "slabtone/slabtone.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {
namespace {

struct Kind {
    std::uint16_t compression;
    std::uint16_t bits;
    std::uint32_t rows_per_strip;
};

class ReadIntoCallerMemory : public ::testing::TestWithParam<Kind> {};

TEST_P(ReadIntoCallerMemory, GivesTheSamplesReadSliceFileGives) {
    const Kind kind = GetParam();
    TempFolder folder;
    LibtiffImage image;
    image.width = 301;  // odd, so that no row ends on a word
    image.height = 67;
    image.bits = kind.bits;
    image.compression = kind.compression;
    image.rows_per_strip = kind.rows_per_strip;
    image.description = "7\t1\t1000\t-0.5";
    image.samples = phantom_samples(image.width, image.height, kind.bits, 3, true);
    const std::string path = folder.file("rec0001.tif");
    write_with_libtiff(path, image);

    const Slice copied = read_slice_file(path);
    std::vector<std::uint16_t> memory;
    int calls = 0;
    const Slice placed = read_slice_file(
        path, [&](std::uint32_t width, std::uint32_t height, SampleType type, std::size_t room) {
            ++calls;
            EXPECT_EQ(width, image.width);
            EXPECT_EQ(height, image.height);
            EXPECT_EQ(type, SampleType::uint16);
            EXPECT_GE(room, std::size_t{width} * height * 2);
            memory.assign((room + 1) / 2, 0xABCD);
            return static_cast<void*>(memory.data());
        });
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(placed.samples.empty());
    EXPECT_EQ(placed.description, copied.description);
    EXPECT_EQ(placed.bits_per_sample, copied.bits_per_sample);
    memory.resize(std::size_t{image.width} * image.height);
    EXPECT_EQ(memory, copied.samples);
    EXPECT_EQ(memory, image.samples);
}

INSTANTIATE_TEST_SUITE_P(EveryDecoder, ReadIntoCallerMemory,
                         ::testing::Values(Kind{COMPRESSION_NONE, 16, 0},
                                           Kind{COMPRESSION_NONE, 16, 5},
                                           Kind{COMPRESSION_NONE, 12, 7},
                                           Kind{COMPRESSION_LZW, 16, 9},
                                           Kind{COMPRESSION_PACKBITS, 8, 0}));

TEST(ReadIntoCallerMemory, NoRoomIsAFailureNamingTheFile) {
    TempFolder folder;
    LibtiffImage image;
    image.width = 4;
    image.height = 2;
    image.samples = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::string path = folder.file("rec0002.tif");
    write_with_libtiff(path, image);
    try {
        read_slice_file(path, [](std::uint32_t, std::uint32_t, SampleType, std::size_t) {
            return static_cast<void*>(nullptr);
        });
        FAIL() << "no failure";
    } catch (const SliceError& error) {
        EXPECT_EQ(error.file_name(), path);
        EXPECT_EQ(error.message(), "cell memory allocation error.");
    }
}

// Samples enough for the table (at least 65536) and every value once.
std::vector<std::uint16_t> every_value() {
    std::vector<std::uint16_t> samples(65536 + 7);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::uint16_t(i * 40503u);
    return samples;
}

std::vector<std::uint8_t> sample_by_sample(const std::vector<std::uint16_t>& samples,
                                           const Calibration& c, double lac_min, double lac_max) {
    const WindowCalibration window{c.lac_scale, c.lac_offset, lac_min, 255.0 / (lac_max - lac_min)};
    std::vector<std::uint8_t> bytes;
    for (std::uint16_t v : samples) bytes.push_back(quantise_sample(v, window));
    return bytes;
}

std::vector<std::uint8_t> grey(const std::vector<std::uint16_t>& samples, const Calibration& c,
                               double lac_min, double lac_max) {
    std::vector<std::uint8_t> bytes(samples.size());
    grey_values(samples, c, lac_min, lac_max, bytes);
    return bytes;
}

TEST(GreyValues, FollowEachNewWindowAndCalibrationOnOneThread) {
    const std::vector<std::uint16_t> samples = every_value();
    // Each differs from the one before in one number only, -0.0 included.
    const struct {
        Calibration calibration;
        double lac_min, lac_max;
    } windows[] = {{{1000, -0.5f}, 0, 4},  {{1000, -0.5f}, 0, 4},   {{1000, -0.5f}, 0, 2},
                   {{1000, -0.5f}, 1, 2},  {{1000, 0.25f}, 1, 2},   {{800, 0.25f}, 1, 2},
                   {{800, 0.25f}, 0.0, 9}, {{800, 0.25f}, -0.0, 9}, {{-800, 0.25f}, -0.0, 9},
                   {{1000, -0.5f}, 0, 4}};
    for (const auto& w : windows) {
        EXPECT_EQ(grey(samples, w.calibration, w.lac_min, w.lac_max),
                  sample_by_sample(samples, w.calibration, w.lac_min, w.lac_max));
    }
}

TEST(GreyValues, ThreadsWithDifferentWindowsAtOnceEachGetTheirOwn) {
    const std::vector<std::uint16_t> samples = every_value();
    const Calibration calibration{1000, -0.5f};
    std::vector<std::vector<std::uint8_t>> expected, got(4);
    for (int t = 0; t < 4; ++t)
        expected.push_back(sample_by_sample(samples, calibration, 0, t + 1));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                std::vector<std::uint8_t> bytes = grey(samples, calibration, 0, t + 1);
                if (bytes != expected[std::size_t(t)]) return;
            }
            got[std::size_t(t)] = expected[std::size_t(t)];
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace slabtone::test
