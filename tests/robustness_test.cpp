// Bad input and faults: truncated and corrupted slices, killed runs, long
// runs, and every input the fuzzers ever failed on.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <thread>
#include <variant>

#include "common/failure.hpp"
#include "common/memory_pool.hpp"
#include "convert/slice_conversion.hpp"
#include "fuzz/harnesses.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/run_program.hpp"
#include "testkit/slice_files.hpp"
#include "testkit/temp_folder.hpp"
#include "testkit/test_hooks.hpp"
#include "testkit/tiff_builder.hpp"
#include "tiff/tiff_directory.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// One slice converted in memory as the program converts it: the 8-bit file,
// or the failure.
std::variant<Bytes, Failure> convert_bytes(const Bytes& bytes) {
    RunParameters run;
    run.lac_min = 0;
    run.lac_max = 40;
    run.window_scale = 255.0 / 40;
    try {
        ConvertedSlice converted = convert_single_slice(InputFile::from_bytes(bytes), run);
        return Bytes(converted.file.bytes().begin(), converted.file.bytes().end());
    } catch (const SliceError& error) {
        return *failure_of(error);
    }
}

struct Kind {
    const char* name;
    std::uint16_t compression;
    std::uint16_t bits;
};

const Kind kKinds[] = {
    {"raw8", COMPRESSION_NONE, 8},
    {"raw12", COMPRESSION_NONE, 12},
    {"raw16", COMPRESSION_NONE, 16},
    {"packbits8", COMPRESSION_PACKBITS, 8},
    {"packbits12", COMPRESSION_PACKBITS, 12},
    {"packbits16", COMPRESSION_PACKBITS, 16},
    {"lzw8", COMPRESSION_LZW, 8},
    {"lzw12", COMPRESSION_LZW, 12},
    {"lzw16", COMPRESSION_LZW, 16},
};

// The end of the strips in a directory-first file: libtiff writes the
// strips first and the directory with its out-of-line values after them.
std::size_t strips_end(const Bytes& libtiff_file, const Bytes& moved) {
    InputFile input = InputFile::from_bytes(libtiff_file);
    NumberReader numbers(input, libtiff_file[0] == 'M' ? ByteOrder::big : ByteOrder::little);
    numbers.cursor().seek(4);
    const std::uint32_t directory = numbers.read_u32();
    return directory + (moved.size() - libtiff_file.size());
}

void PrintTo(const Kind& k, std::ostream* os) {
    *os << k.name;
}

Bytes valid_file(const Kind& kind, const TempFolder& folder) {
    LibtiffImage image;
    image.width = 23;
    image.height = 11;
    image.bits = kind.bits;
    image.compression = kind.compression;
    image.rows_per_strip = 4;
    image.description = kExampleRecord;
    image.samples = phantom_samples(23, 11, kind.bits, 9, true);
    write_with_libtiff(folder.file("valid.tif"), image);
    // Directory first, so that cutting the file cuts strips.
    return directory_first(read_file(folder.file("valid.tif")));
}

class TruncationTest : public ::testing::TestWithParam<Kind> {};

TEST_P(TruncationTest, EveryCutEndsInAMessageOrAConversion) {
    TempFolder folder;
    const Bytes full = valid_file(GetParam(), folder);
    const auto whole = convert_bytes(full);
    ASSERT_TRUE(std::holds_alternative<Bytes>(whole));
    const std::size_t strips_end_at = strips_end(read_file(folder.file("valid.tif")), full);
    int failed = 0, converted = 0, identical = 0, converted_with_cut_strips = 0;
    for (std::size_t length = 0; length < full.size(); ++length) {
        const Bytes cut(full.begin(), full.begin() + std::ptrdiff_t(length));
        const auto outcome = convert_bytes(cut);
        if (std::holds_alternative<Failure>(outcome)) {
            ++failed;
            continue;
        }
        ++converted;
        if (std::get<Bytes>(outcome) == std::get<Bytes>(whole)) ++identical;
        if (length < strips_end_at) ++converted_with_cut_strips;
    }
    // A cut in the unused old directory converts exactly like the whole
    // file (one in the description text shortens the record). A cut in the
    // strips fails: compressed strips run out, and for uncompressed ones
    // (whose missing bytes read as all ones) the description after them is
    // gone, so the calibration is missing.
    EXPECT_GT(identical, 0);
    EXPECT_GT(failed, 0);
    EXPECT_EQ(converted_with_cut_strips, 0);
    EXPECT_EQ(failed + converted, int(full.size()));
    RecordProperty("cuts", int(full.size()));
    RecordProperty("failed", failed);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TruncationTest, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Corruption, RandomByteFlipsNeverCrash) {
    TempFolder folder;
    std::mt19937 random(4242);
    const ScopedMemoryBudget budget(std::uint64_t{64} << 20);
    int failed = 0, converted = 0;
    for (const Kind& kind : kKinds) {
        const Bytes valid = valid_file(kind, folder);
        for (int trial = 0; trial < 400; ++trial) {
            Bytes file = valid;
            for (int flips = 1 + trial % 4; flips > 0; --flips) {
                file[random() % file.size()] ^= std::uint8_t(1u << (random() % 8));
            }
            if (std::holds_alternative<Failure>(convert_bytes(file))) {
                ++failed;
            } else {
                ++converted;
            }
        }
    }
    EXPECT_EQ(failed + converted, 9 * 400);
    EXPECT_GT(failed, 0);
    EXPECT_GT(converted, 0);
}

TEST(Corruption, CutAndFlippedSlicesThroughTheProgram) {
    // A sample of bad slices through the real program: exit status 1 and a
    // message naming the slice, never a signal.
    TempFolder folder;
    const Bytes valid = valid_file(kKinds[8], folder);
    std::mt19937 random(99);
    for (int trial = 0; trial < 24; ++trial) {
        Bytes file(valid.begin(), valid.begin() + std::ptrdiff_t(random() % (valid.size() / 2)));
        write_file(folder.file("rec0001.tif"), file);
        ProgramResult result = run_slabtone({"1", "1", "0", "40"}, folder.path());
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err.rfind("rec0001.tif : ", 0), 0u) << result.err;
        EXPECT_FALSE(fs::exists(folder.file("ro0001.tif")));
    }
}

// Every input a fuzzer ever failed on, replayed through its harness.
TEST(FuzzRegressions, EveryStoredInputPasses) {
    const fs::path root = fs::path(SLABTONE_SOURCE_DIR) / "fuzz" / "regressions";
    // The harnesses set the budget they run with; it goes with the test.
    const ScopedMemoryBudget budget(fuzz::kFuzzMemoryBudget);
    const std::pair<const char*, void (*)(const std::uint8_t*, std::size_t)> harnesses[] = {
        {"fuzz_reader", fuzz::read_any_file},
        {"fuzz_conversion", fuzz::convert_any_file},
        {"fuzz_decode_paths", fuzz::compare_decode_paths},
        {"fuzz_open_reader", fuzz::read_any_open_file},
    };
    // Every target has inputs; a folder that is missing or empty (a moved
    // tree, a checkout that lost them) fails rather than replay nothing.
    int replayed = 0;
    for (const auto& [name, harness] : harnesses) {
        int here = 0;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(root / name, error)) {
            const Bytes input = read_file(entry.path().string());
            harness(input.data(), input.size());
            ++here;
        }
        EXPECT_GT(here, 0) << "no input replayed from " << (root / name);
        replayed += here;
    }
    RecordProperty("replayed", replayed);
}

}  // namespace
}  // namespace slabtone::test
