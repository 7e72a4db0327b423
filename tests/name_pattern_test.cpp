// Slices under other names and calibrations: the pattern grammar, the
// options' refusals, runs through patterns (folders, numbers past 9999,
// negative ones), outputs that would replace an input, and --calibration
// against the record it stands for.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/name_pattern.hpp"
#include "testkit/program_fixture.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;

TEST(NamePattern, AcceptedPatternsFormatAsPrintfDoes) {
    const char* accepted[] = {
        "%d.tif", "r%0d.tif", "rec%4d.tif",   "rec%04d.tif",           "slice-%05i.tif",
        "%10d",   "%010d",    "a%%b%d%%.tif", "recon/recon_%05d.tiff", "%1i"};
    for (const char* text : accepted) {
        const auto pattern = NamePattern::parse(text);
        ASSERT_TRUE(pattern) << text;
        for (long long slice : {0LL, 7LL, 12345LL, -3LL, 2147483647LL, -2147483648LL}) {
            // The same conversion as an int through printf, %% included.
            char expected[64];
            std::snprintf(expected, sizeof expected, text, static_cast<int>(slice));
            EXPECT_EQ(pattern->name_of(slice), expected) << text << " " << slice;
        }
    }
}

TEST(NamePattern, EverythingElseIsRefused) {
    const char* refused[] = {"rec.tif", "%d%d.tif", "%s.tif", "%-4d.tif", "%ld.tif", "%5.2d",
                             "%11d",    "%011d",    "%100d",  "50%",      "%",       "%00d",
                             "%+d",     "% d",      "%x",     ""};
    for (const char* text : refused) {
        EXPECT_FALSE(NamePattern::parse(text)) << text;
        EXPECT_TRUE(name_pattern_fault(text)) << text;
    }
    EXPECT_FALSE(name_pattern_fault("recon_%05d.tiff"));
}

// Wrong options: one line naming the option, status 1, nothing read or
// written; the usage lines stay as they were.
struct OptionCase {
    std::vector<std::string> arguments;
    std::string starts;  // the line's start; empty: the first usage line whole
};

class WrongOptionTest : public ProgramTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(WrongOptionTest, OneLineAndNothingTouched) {
    put_example(1);
    const OptionCase& c = GetParam();
    const ProgramResult result = run(c.arguments);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, "");
    if (c.starts.empty()) {
        EXPECT_EQ(result.err, "usage : slabtone sta_ly dst_ly LACmin LACmax (x1 y1 x2 y2)\n");
    } else {
        EXPECT_EQ(result.err.rfind(c.starts, 0), 0u) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    }
    EXPECT_EQ(names_in(folder_.path()), std::vector<std::string>{"rec0001.tif"});
}

INSTANTIATE_TEST_SUITE_P(
    Options, WrongOptionTest,
    ::testing::Values(
        OptionCase{{"--input"}, "slabtone : --input : PATTERN is missing."},
        OptionCase{{"--input", "rec.tif", "1", "1", "0", "2"}, "slabtone : --input : 'rec.tif'"},
        OptionCase{{"--output", "%s.tif", "1", "1", "0", "2"}, "slabtone : --output : '%s.tif'"},
        OptionCase{{"--input", "rec%04d.tif", "--input", "rec%04d.tif", "1", "1", "0", "2"},
                   "slabtone : --input : given twice."},
        OptionCase{{"--calibration", "0", "1", "1", "1", "0", "2"},
                   "slabtone : --calibration : SCALE '0'"},
        OptionCase{{"--calibration", "1e3x", "1", "1", "1", "0", "2"},
                   "slabtone : --calibration : SCALE '1e3x'"},
        OptionCase{{"--calibration", "1000", "", "1", "1", "0", "2"},
                   "slabtone : --calibration : OFFSET ''"},
        OptionCase{{"--calibration", "1000"}, "slabtone : --calibration : SCALE and OFFSET"},
        // Options come first: after the numbers, the words count as always.
        OptionCase{{"1", "1", "0", "2", "--input", "x%d"},
                   "usage : slabtone sta_ly dst_ly LACmin LACmax x1 y1 x2 y2"},
        OptionCase{{"--input", "rec%04d.tif", "1", "1", "0"}, ""}));

// Slices named by a pattern in a folder of their own, across 9999 -> 10000,
// give the files the default names give.
TEST_F(ProgramTest, PatternsNameTheSlicesAndTheirOutputs) {
    fs::create_directories(folder_.file("recon"));
    for (int slice : {9999, 10000, -1}) {
        char name[64];
        std::snprintf(name, sizeof name, "recon/recon_%05d.tiff", slice);
        write_file(folder_.file(name), slice_of(kExampleSamples, 3, kExampleRecord));
    }
    ProgramResult result = run(
        {"--input", "recon/recon_%05d.tiff", "--output", "out%d.tif", "9999", "10000", "0", "2"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out,
              "recon/recon_09999.tiff(16bit) -> out9999.tif(8bit)\r"
              "recon/recon_10000.tiff(16bit) -> out10000.tif(8bit)\r\nfinish\n");
    for (const char* name : {"out9999.tif", "out10000.tif"}) {
        EXPECT_EQ(read_file(folder_.file(name)), expected_example()) << name;
    }
    // Without --output the default names; a negative number as printf has it.
    result = run({"--input", "recon/recon_%05d.tiff", "-1", "-1", "0", "2"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(read_file(folder_.file("ro-001.tif")), expected_example());
    result = run({"--input", "recon/recon_%05d.tiff", "5", "5", "0", "2"});
    EXPECT_EQ(result.err, "recon/recon_00005.tiff : file not found.\n");
    // An output folder that is not there: the first slice cannot be written.
    result = run({"--input", "recon/recon_%05d.tiff", "--output", "none/o%d.tif", "9999", "10000",
                  "0", "2"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "none/o9999.tif : cannot write file.\n");
}

// (input pattern, output pattern, last slice, o2.tif another name of r1.tif, the
// line, or "" for a run that goes ahead)
struct CollisionCase {
    const char* name;
    const char* input;
    const char* output;
    int last;
    bool link;
    const char* err;
};

class CollisionTest : public ProgramTest, public ::testing::WithParamInterface<CollisionCase> {};

TEST_P(CollisionTest, AnOutputThatWouldReplaceAnInputStopsTheRunBeforeAnything) {
    const CollisionCase& c = GetParam();
    for (int slice = 1; slice <= c.last; ++slice) {
        write_file(folder_.file("r" + std::to_string(slice) + ".tif"),
                   slice_of(kExampleSamples, 3, kExampleRecord));
    }
    if (c.link) fs::create_hard_link(folder_.file("r1.tif"), folder_.file("o2.tif"));
    const std::vector<std::string> before = names_in(folder_.path());
    std::vector<std::vector<std::uint8_t>> inputs;
    for (const std::string& name : before) inputs.push_back(read_file(folder_.file(name)));
    const ProgramResult result =
        run({"--input", c.input, "--output", c.output, "1", std::to_string(c.last), "0", "2"});
    if (*c.err == '\0') {
        EXPECT_EQ(result.exit_status, 0) << result.err;
        return;
    }
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(names_in(folder_.path()), before);
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(read_file(folder_.file(before[i])), inputs[i]) << before[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, CollisionTest,
    ::testing::Values(
        // Slice 1 would write r11.tif, slice 11's input.
        CollisionCase{"another_slices_input", "r%d.tif", "r1%d.tif", 11, false,
                      "r1.tif : output would replace an input.\n"},
        // Slice 11 is not in the range 1..10: nothing is replaced.
        CollisionCase{"outside_the_range", "r%d.tif", "r1%d.tif", 10, false, ""},
        CollisionCase{"its_own_input_spelt_otherwise", "r%d.tif", "./r%d.tif", 2, false,
                      "r1.tif : output would replace an input.\n"},
        CollisionCase{"through_a_folder_and_back", "r%d.tif", "x/../r%d.tif", 2, false,
                      "r1.tif : output would replace an input.\n"},
        // o2.tif is r1.tif by another name: slice 2 would write slice 1's input.
        CollisionCase{"a_link_to_an_input", "r%d.tif", "o%d.tif", 2, true,
                      "r2.tif : output would replace an input.\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// --calibration gives every slice the calibration a record would: the same
// grey values; the output record is the record read so far, with zeros for
// the fields no slice gave.
TEST_F(ProgramTest, CalibrationStandsForTheRecord) {
    put_example(1);
    write_file(folder_.file("rec0002.tif"), slice_of(kExampleSamples, 3, ""));
    ProgramResult result = run({"--calibration", "1000", "-0.5", "1", "1", "0", "2"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example());
    // Slice 2 alone has no record at all.
    result = run({"2", "2", "0", "2"});
    EXPECT_EQ(result.err, "rec0002.tif : calibration not found in image description.\n");
    result = run({"--calibration", "1000", "-0.5", "2", "2", "0", "2"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(read_file(folder_.file("ro0002.tif")),
              expected_output_file(scratch_.file("expected.tif"), kExampleBytes, 3, 2,
                                   "0\t0.000000\t127.500000\t0.000000\t0.000000\t0\t0.000000\t"
                                   "0.000000"));
    // The calibration replaces the record's: with scale 500 and the window
    // 0..4, sample 1999 is (3.998 - 0.5) * 63.75 = 222.9975.
    result = run({"--calibration", "500", "-0.5", "1", "1", "0", "4"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")),
              expected_output_file(scratch_.file("expected.tif"), {0, 95, 159, 222, 255, 255}, 3, 2,
                                   "12\t0.002500\t63.750000\t0.000000\t3.250000\t800\t0.100000\t"
                                   "2.000000"));
}

}  // namespace
}  // namespace slabtone::test
