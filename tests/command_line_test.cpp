// Argument counts, usage lines and the C library's number rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>

#include "convert/run_parameters.hpp"
#include "slabtone/command_line.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/run_program.hpp"
#include "testkit/slice_files.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {
namespace {

std::vector<std::string> first_n(std::size_t n) {
    std::vector<std::string> all = {"1", "1", "0", "2", "0", "0", "1", "1", "9", "9"};
    return {all.begin(), all.begin() + std::ptrdiff_t(n)};
}

class UsageTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(UsageTest, WrongCountsPrintTheirUsageLineAndTouchNothing) {
    TempFolder folder;
    write_file(folder.file("rec0001.tif"), slice_of({1, 2}, 2, kExampleRecord));
    const std::size_t count = GetParam();
    ProgramResult result = run_slabtone(first_n(count), folder.path());
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, std::string(count < 4 ? kUsageTooFew : kUsageCount));
    EXPECT_FALSE(std::filesystem::exists(folder.file("ro0001.tif")));
}

INSTANTIATE_TEST_SUITE_P(Counts, UsageTest, ::testing::Values(0, 1, 2, 3, 5, 6, 7, 9, 10));

struct ParseCase {
    std::vector<const char*> argv;
    std::int32_t sta, dst;
    double lac_min, lac_max;
    bool crop;
};

TEST(CommandLine, NumbersFollowAtoiAndAtof) {
    const std::vector<ParseCase> cases = {
        {{"slabtone", "abc", "  7x", "0.5e1", "-1.25"}, 0, 7, 5.0, -1.25, false},
        {{"slabtone", "+3", "-2", "0x10", "inf"}, 3, -2, 16.0, HUGE_VAL, false},
        {{"slabtone", "1", "2", "", "2", "1", "2", "3", "4"}, 1, 2, 0.0, 2.0, true},
    };
    for (const ParseCase& c : cases) {
        auto parsed = parse_command_line(int(c.argv.size()), c.argv.data());
        ASSERT_TRUE(std::holds_alternative<ConvertRequest>(parsed));
        const auto& request = std::get<ConvertRequest>(parsed);
        EXPECT_EQ(request.first, c.sta);
        EXPECT_EQ(request.last, c.dst);
        EXPECT_EQ(request.lac_min, c.lac_min);
        EXPECT_EQ(request.lac_max, c.lac_max);
        EXPECT_EQ(request.crop.has_value(), c.crop);
        EXPECT_TRUE(request.folder.empty());
        EXPECT_EQ(run_parameters_of(request).window_scale, 255.0 / (c.lac_max - c.lac_min));
    }
}

TEST(CommandLine, CropArgumentsInOrder) {
    const char* argv[] = {"slabtone", "1", "2", "0", "2", "10", "20", "30", "40"};
    auto run = std::get<ConvertRequest>(parse_command_line(9, argv));
    ASSERT_TRUE(run.crop);
    EXPECT_EQ(run.crop->x1, 10);
    EXPECT_EQ(run.crop->y1, 20);
    EXPECT_EQ(run.crop->x2, 30);
    EXPECT_EQ(run.crop->y2, 40);
}

}  // namespace
}  // namespace slabtone::test
