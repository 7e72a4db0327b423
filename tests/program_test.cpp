// Whole runs of the program in a scratch folder.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "slabtone-window/window_command_line.hpp"
#include "slabtone/command_line.hpp"
#include "testkit/program_fixture.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;

TEST_F(ProgramTest, EmptyRangePrintsOnlyFinish) {
    ProgramResult result = run({"5", "3", "0", "2"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "\nfinish\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(ProgramTest, RangeConvertsEverySliceInOrder) {
    for (int slice = 1; slice <= 3; ++slice) put_example(slice);
    ProgramResult result = run({"1", "3", "0", "2"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, progress(1) + progress(2) + progress(3) + "\nfinish\n");
    for (const char* name : {"ro0001.tif", "ro0002.tif", "ro0003.tif"}) {
        EXPECT_EQ(read_file(folder_.file(name)), expected_example()) << name;
    }
}

TEST_F(ProgramTest, MissingSliceStopsTheRunAndKeepsEarlierOutputs) {
    put_example(1);
    put_example(3);
    ProgramResult result = run({"1", "3", "0", "2"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "rec0002.tif : file not found.\n");
    EXPECT_EQ(result.out, progress(1));
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example());
    EXPECT_EQ(names_in(folder_.path()),
              (std::vector<std::string>{"rec0001.tif", "rec0003.tif", "ro0001.tif"}));
}

// On a terminal the progress line that a failure leaves open is ended
// before the message, so that the message is not written over it; into a
// file (above) every byte stays as it was.
TEST_F(ProgramTest, SliceNamesForAnyNumber) {
    struct Case {
        std::string arg;
        std::string name;
    };
    for (const Case& c : std::vector<Case>{{"abc", "rec0000.tif"},
                                           {"-3", "rec-003.tif"},
                                           {"12345", "rec12345.tif"},
                                           {"-2147483648", "rec-2147483648.tif"},
                                           {"2147483647", "rec2147483647.tif"}}) {
        ProgramResult result = run({c.arg, c.arg, "0", "2"});
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err, c.name + " : file not found.\n");
    }
}

TEST_F(ProgramTest, RangeEndingAtLargestSliceNumberEnds) {
    write_file(folder_.file("rec2147483647.tif"), slice_of(kExampleSamples, 3, kExampleRecord));
    ProgramResult result = run({"2147483647", "2147483647", "0", "2"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "rec2147483647.tif(16bit) -> ro2147483647.tif(8bit)\r\nfinish\n");
    EXPECT_EQ(read_file(folder_.file("ro2147483647.tif")), expected_example());
}

TEST_F(ProgramTest, CropCutsTheSameRectangleFromEverySlice) {
    put_example(1);
    put_example(2);
    ProgramResult result = run({"1", "2", "0", "2", "1", "0", "2", "1"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    auto expected = expected_example(2, 2, {63, 127, 255, 255});
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected);
    EXPECT_EQ(read_file(folder_.file("ro0002.tif")), expected);
}

TEST_F(ProgramTest, CropOfOneSampleAndOfTheWholeImage) {
    put_example(1);
    EXPECT_EQ(run({"1", "1", "0", "2", "2", "1", "2", "1"}).exit_status, 0);
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example(1, 1, {255}));
    EXPECT_EQ(run({"1", "1", "0", "2", "0", "0", "2", "1"}).exit_status, 0);
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example());
}

TEST_F(ProgramTest, CropOutsideTheImageStopsBeforeWriting) {
    put_example(1);
    for (std::vector<std::string> rect : {std::vector<std::string>{"0", "0", "3", "1"},
                                          {"-1", "0", "1", "1"},
                                          {"0", "0", "1", "2"},
                                          {"2", "0", "1", "1"},
                                          {"0", "1", "1", "0"}}) {
        std::vector<std::string> args = {"1", "1", "0", "2"};
        args.insert(args.end(), rect.begin(), rect.end());
        ProgramResult result = run(args);
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err, "rec0001.tif : crop rectangle outside the image.\n");
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(fs::exists(folder_.file("ro0001.tif")));
    }
}

TEST_F(ProgramTest, CalibrationCarriesOverButMustBeSuppliedOnce) {
    put_slice(1, slice_of(kExampleSamples, 3, ""));
    ProgramResult result = run({"1", "1", "0", "2"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "rec0001.tif : calibration not found in image description.\n");
    EXPECT_TRUE(names_in(folder_.path()) == std::vector<std::string>{"rec0001.tif"});

    // Slice 2 without description and slice 3 with a text holding no
    // number take slice 1's record.
    put_example(1);
    put_slice(2, slice_of(kExampleSamples, 3, ""));
    put_slice(3, slice_of(kExampleSamples, 3, "no numbers here"));
    result = run({"1", "3", "0", "2"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    for (const char* name : {"ro0001.tif", "ro0002.tif", "ro0003.tif"}) {
        EXPECT_EQ(read_file(folder_.file(name)), expected_example()) << name;
    }

    // Only three fields: the offset is still missing.
    put_slice(1, slice_of(kExampleSamples, 3, "1\t2\t1000"));
    result = run({"1", "1", "0", "2"});
    EXPECT_EQ(result.err, "rec0001.tif : calibration not found in image description.\n");
}

TEST_F(ProgramTest, RerunReplacesOutputsWhole) {
    put_example(1);
    ASSERT_EQ(run({"1", "1", "0", "2", "0", "0", "2", "1"}).exit_status, 0);
    ASSERT_EQ(run({"1", "1", "0", "2", "0", "0", "0", "0"}).exit_status, 0);
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example(1, 1, {0}));
}

TEST_F(ProgramTest, OutputNameTakenByAFolderCannotBeWritten) {
    put_example(1);
    put_example(2);
    fs::create_directory(folder_.file("ro0002.tif"));
    ProgramResult result = run({"1", "2", "0", "2"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "ro0002.tif : cannot write file.\n");
    EXPECT_EQ(result.out, progress(1));
    EXPECT_EQ(names_in(folder_.path()),
              (std::vector<std::string>{"rec0001.tif", "rec0002.tif", "ro0001.tif", "ro0002.tif"}));
}

TEST_F(ProgramTest, FailureMidRangeTouchesNoLaterSlice) {
    // Slices are converted ahead on several threads; a failure at slice 3
    // must still leave slices 4 to 8 alone, old outputs included.
    for (int slice = 1; slice <= 8; ++slice) put_example(slice);
    put_slice(3, slice_of(kExampleSamples, 2, kExampleRecord));  // 2 x 3: crop fails
    write_file(folder_.file("ro0005.tif"), {'o', 'l', 'd'});
    ProgramResult result = run({"1", "8", "0", "2", "2", "0", "2", "1"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "rec0003.tif : crop rectangle outside the image.\n");
    EXPECT_EQ(result.out, progress(1) + progress(2));
    EXPECT_EQ(read_file(folder_.file("ro0005.tif")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    for (const char* name :
         {"ro0003.tif", "ro0004.tif", "ro0006.tif", "ro0007.tif", "ro0008.tif"}) {
        EXPECT_FALSE(fs::exists(folder_.file(name))) << name;
    }
}

TEST_F(ProgramTest, RecordPassesFromSliceToSliceInOrder) {
    // Every third slice brings a new calibration (and field 1); the others
    // have none or only two fields, and take the last one given.
    const std::uint16_t sample = 2000;
    std::vector<std::vector<std::uint8_t>> expected;
    double lac_scale = 0;
    float lac_offset = 0;
    int field1 = 0;
    for (int slice = 1; slice <= 24; ++slice) {
        std::string description;
        if (slice % 3 == 1) {
            lac_scale = 1000.0 + slice * 10;
            lac_offset = -0.25f * float(slice % 4);
            field1 = slice;
            char text[128];
            std::snprintf(text, sizeof text, "%d\t0\t%f\t%f", field1, lac_scale,
                          double(lac_offset));
            description = text;
        } else if (slice % 3 == 2) {
            description = "77\t5";  // fields 1 and 2 only
            field1 = 77;
        }
        put_slice(slice, slice_of(std::vector<std::uint16_t>(4, sample), 2, description));
        double p = ((sample / lac_scale + double(lac_offset)) - 0.0) * (255.0 / 2.0);
        auto byte = std::uint8_t(std::clamp(int(p), 0, 255));
        char record[256];
        std::snprintf(record, sizeof record, "%d\t%lf\t%lf\t%f\t%lf\t%d\t%lf\t%lf", field1,
                      slice % 3 == 1 ? 0.0 : 5.0, 127.5, 0.0, 0.0, 0, 0.0, 0.0);
        expected.push_back(expected_output_file(scratch_.file("e.tif"),
                                                std::vector<std::uint8_t>(4, byte), 2, 2, record));
    }
    ProgramResult result = run({"1", "24", "0", "2"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    for (int slice = 1; slice <= 24; ++slice) {
        const std::string name = output_name(slice);
        EXPECT_EQ(read_file(folder_.file(name)), expected[std::size_t(slice - 1)]) << name;
    }
}

TEST_F(ProgramTest, EveryCompressionConvertsToTheSameBytes) {
    // The same samples stored uncompressed, as LZW (with and without
    // differencing, big-endian, reversed fill order) and as PackBits.
    struct Storage {
        std::uint16_t compression, predictor, fill_order;
        bool big_endian;
    };
    const Storage storages[] = {{1, 1, 1, false}, {5, 1, 1, false},    {5, 2, 1, true},
                                {5, 2, 2, false}, {32773, 1, 1, true}, {32773, 1, 2, false}};
    LibtiffImage image;
    image.width = 300;
    image.height = 40;
    image.rows_per_strip = 7;
    image.description = kExampleRecord;
    image.samples = phantom_samples(image.width, image.height, 16, 5, true);
    int slice = 1;
    for (const Storage& s : storages) {
        image.compression = s.compression;
        image.predictor = s.predictor;
        image.fill_order = s.fill_order;
        image.big_endian = s.big_endian;
        const std::string name = input_name(slice++);
        write_with_libtiff(folder_.file(name), image);
    }
    ProgramResult result = run({"1", "6", "0.3", "40", "10", "5", "289", "34"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const auto first = read_file(folder_.file("ro0001.tif"));
    EXPECT_GT(first.size(), 280u * 30u);
    for (const char* name :
         {"ro0002.tif", "ro0003.tif", "ro0004.tif", "ro0005.tif", "ro0006.tif"}) {
        EXPECT_EQ(read_file(folder_.file(name)), first) << name;
    }
}

}  // namespace
}  // namespace slabtone::test

namespace slabtone::test {
namespace {

// --version and --help are options only as the sole argument, for both
// programs; with anything beside them the command line is read as always.
struct SoleOptionCase {
    const char* name;
    bool window;
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
};

void PrintTo(const SoleOptionCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kSlabtoneUsage = "usage : slabtone sta_ly dst_ly LACmin LACmax (x1 y1 x2 y2)\n";
const std::string kWindowUsageLine =
    "usage : slabtone-window sta_ly dst_ly [low high] [--svg FILE] [--html FILE] "
    "[--show a,b,...] [--plane X,Y] [--inside-circle]\n";

const SoleOptionCase kSoleOptionCases[] = {
    {"slabtone_version", false, {"--version"}, 0, "slabtone " SLABTONE_VERSION "\n", ""},
    {"slabtone_help", false, {"--help"}, 0, help_text(), ""},
    {"slabtone_version_and_more", false, {"--version", "1"}, 1, "", kSlabtoneUsage},
    {"slabtone_help_among_four", false, {"2", "1", "0", "--help"}, 0, "\nfinish\n", ""},
    {"slabtone_single_dash", false, {"-version"}, 1, "", kSlabtoneUsage},
    {"window_version", true, {"--version"}, 0, "slabtone " SLABTONE_VERSION "\n", ""},
    {"window_help", true, {"--help"}, 0, window_help_text(), ""},
    {"window_help_and_more", true, {"5", "4", "--help"}, 1, "", kWindowUsageLine},
};

class SoleOptionTest : public ::testing::TestWithParam<SoleOptionCase> {};

TEST_P(SoleOptionTest, OnlyAsTheSoleArgument) {
    const SoleOptionCase& c = GetParam();
    TempFolder folder;
    const ProgramResult result = run_program(c.window ? SLABTONE_WINDOW_BINARY : SLABTONE_BINARY,
                                             c.arguments, folder.path());
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(Programs, SoleOptionTest, ::testing::ValuesIn(kSoleOptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace slabtone::test
