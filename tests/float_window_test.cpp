// slabtone-window on float and signed stacks: the two-pass figures against a
// sort of every value, and the program's report and command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "convert/lac_window.hpp"
#include "convert/run_parameters.hpp"
#include "measure/lac_distribution.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/run_program.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

void write_floats(const std::string& path, std::uint32_t width, std::uint32_t height,
                  const std::vector<float>& values) {
    LibtiffTypedImage image;
    image.width = width;
    image.height = height;
    image.rows_per_strip = 7;
    image.samples.resize(values.size() * sizeof(float));
    std::memcpy(image.samples.data(), values.data(), image.samples.size());
    write_typed_with_libtiff(path, image);
}

// Nearest rank over the sorted values.
double nearest_rank(const std::vector<double>& sorted, double p) {
    if (p <= 0) return sorted.front();
    for (std::size_t k = 1; k <= sorted.size(); ++k) {
        if (static_cast<long double>(k) * 100 >= static_cast<long double>(p) * sorted.size()) {
            return sorted[k - 1];
        }
    }
    return sorted.back();
}

struct FloatStackCase {
    const char* name;
    std::function<float(std::mt19937&, std::size_t)> value;
    std::optional<Calibration> calibration = std::nullopt;
    bool inside_circle = false;
    double low = 0.5;
    double high = 99.5;
};

void PrintTo(const FloatStackCase& c, std::ostream* out) {
    *out << c.name;
}

class FloatWindowTest : public ::testing::TestWithParam<FloatStackCase> {};

// Every figure of the proposal equals what sorting all LAC values and
// converting every sample gives.
TEST_P(FloatWindowTest, FiguresEqualASortOfEveryValue) {
    const FloatStackCase& c = GetParam();
    TempFolder folder;
    constexpr std::uint32_t kWidth = 61;
    constexpr std::uint32_t kHeight = 47;
    std::mt19937 random(5);
    std::vector<float> all;
    std::vector<float> counted;
    for (int slice = 1; slice <= 3; ++slice) {
        std::vector<float> values(std::size_t{kWidth} * kHeight);
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = c.value(random, i);
        write_floats(folder.file("f" + std::to_string(slice) + ".tif"), kWidth, kHeight, values);
        for (std::uint32_t y = 0; y < kHeight; ++y) {
            ColumnRange columns{0, kWidth - 1};
            if (c.inside_circle) columns = circle_columns(kWidth, kHeight, y);
            for (std::int64_t x = columns.first; x <= columns.last; ++x) {
                counted.push_back(values[y * kWidth + static_cast<std::size_t>(x)]);
            }
        }
    }
    MeasureRequest request;
    request.first = 1;
    request.last = 3;
    request.folder = folder.path();
    request.input_pattern = "f%d.tif";
    request.calibration = c.calibration;
    request.inside_circle = c.inside_circle;
    ASSERT_EQ(measure_range(request).sample_type, SampleType::float32);
    const ProposedWindow window = measure(request, c.low, c.high);

    const Calibration calibration = c.calibration.value_or(Calibration{1, 0});
    std::vector<double> lacs;
    for (const float v : counted) {
        const double lac = static_cast<double>(v) / calibration.lac_scale +
                           static_cast<double>(calibration.lac_offset);
        if (!std::isnan(lac)) lacs.push_back(lac);
    }
    std::sort(lacs.begin(), lacs.end());
    ASSERT_FALSE(lacs.empty());
    EXPECT_EQ(window.samples, counted.size());
    EXPECT_EQ(window.measured, lacs.size());
    EXPECT_EQ(window.minimum, lacs.front());
    EXPECT_EQ(window.low_lac, nearest_rank(lacs, c.low));
    EXPECT_EQ(window.median, nearest_rank(lacs, 50));
    EXPECT_EQ(window.high_lac, nearest_rank(lacs, c.high));
    EXPECT_EQ(window.maximum, lacs.back());
    // The printed window reads back as the exact values.
    EXPECT_EQ(window.lac_min, window.low_lac);
    EXPECT_EQ(window.lac_max, window.high_lac);

    const WindowCalibration converting{calibration.lac_scale, calibration.lac_offset,
                                       window.lac_min,
                                       window_scale_of(window.lac_min, window.lac_max)};
    Saturation expected;
    for (const float v : counted) {
        const std::uint8_t grey = quantise_value(static_cast<double>(v), converting);
        expected.to_black += grey == 0;
        expected.to_white += grey == 255;
    }
    EXPECT_EQ(window.saturated.to_black, expected.to_black);
    EXPECT_EQ(window.saturated.to_white, expected.to_white);
}

float spread(std::mt19937& random, std::size_t) {
    return std::uniform_real_distribution<float>(-0.01f, 0.05f)(random);
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, FloatWindowTest,
    ::testing::Values(FloatStackCase{"spread", spread},
                      // Thousands of neighbouring values in one bin, and a few far away.
                      FloatStackCase{"crowded",
                                     [](std::mt19937& random, std::size_t i) {
                                         if (i % 97 == 0) return spread(random, i) * 100;
                                         return std::nextafter(1.0f, 2.0f) +
                                                static_cast<float>(random() % 3000) * 1.1920929e-7f;
                                     }},
                      FloatStackCase{"special values",
                                     [](std::mt19937& random, std::size_t i) {
                                         const float special[] = {
                                             kInf,
                                             -kInf,
                                             std::nanf(""),
                                             -0.0f,
                                             0.0f,
                                             std::numeric_limits<float>::denorm_min(),
                                             -std::numeric_limits<float>::denorm_min(),
                                             std::numeric_limits<float>::max(),
                                             std::numeric_limits<float>::lowest()};
                                         if (i % 5 == 0) return special[random() % 9];
                                         return spread(random, i);
                                     },
                                     std::nullopt, false, 1, 99},
                      FloatStackCase{"whole range", spread, std::nullopt, false, 0, 100},
                      FloatStackCase{"calibrated", spread, Calibration{1000, -0.25f}},
                      FloatStackCase{"falling calibration", spread, Calibration{-2, 0.5f}, false,
                                     10, 90},
                      FloatStackCase{"inside the circle",
                                     [](std::mt19937& random, std::size_t i) {
                                         return i % 61 < 5 ? std::nanf("") : spread(random, i);
                                     },
                                     std::nullopt, true}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

class WindowOnFloatsProgramTest : public ::testing::Test {
  protected:
    ProgramResult run(const std::vector<std::string>& arguments) {
        return run_program(SLABTONE_WINDOW_BINARY, arguments, folder_.path());
    }
    TempFolder folder_;
};

// The report prints the exact values in their shortest form and the command
// names the stack as it was read.
TEST_F(WindowOnFloatsProgramTest, ReportAndCommandNameTheStack) {
    write_floats(folder_.file("my slice 1.tif"), 2, 2, {0.000412f, 1.5f, -0.25f, 3.0f});
    write_floats(folder_.file("my slice 2.tif"), 2, 2, {2.0f, 0.5f, 0.125f, 1.0f});
    ProgramResult result =
        run({"--input", "my slice %d.tif", "1", "2", "10", "90", "--calibration", "1", "0.5"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out,
              "slices read: 2\n"
              "samples read: 8\n"
              "minimum LAC: 0.25\n"
              "10% LAC: 0.25\n"
              "median LAC: 1\n"
              "90% LAC: 3.5\n"
              "maximum LAC: 3.5\n"
              "converted to 0: 12.500% of samples\n"
              "converted to 255: 12.500% of samples\n"
              "slabtone --input 'my slice %d.tif' --calibration 1 0.5 1 2 0.25 3.5\n");
    // Without a calibration a float value is its LAC, exact to the last bit.
    result = run({"1", "2", "10", "90", "--input", "my slice %d.tif"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_NE(result.out.find("minimum LAC: -0.25\n10% LAC: -0.25\nmedian LAC: 0.5\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("slabtone --input 'my slice %d.tif' 1 2 -0.25 3\n"),
              std::string::npos)
        << result.out;
    // 0.000412f printed so that it reads back as itself.
    result = run({"--input", "my slice %d.tif", "1", "1", "0", "30"});
    EXPECT_NE(
        result.out.find("minimum LAC: -0.25\n0% LAC: -0.25\nmedian LAC: 0.00041199999395757914\n"),
        std::string::npos)
        << result.out;
}

TEST_F(WindowOnFloatsProgramTest, WrongOptionsAndMixedStacks) {
    ProgramResult result = run({"1", "2", "--input", "r%s.tif"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err.rfind("slabtone-window : --input : 'r%s.tif' is no PATTERN: ", 0), 0u)
        << result.err;
    result = run({"1", "2", "--output", "o%d.tif"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err.rfind("usage : slabtone-window", 0), 0u) << result.err;

    write_floats(folder_.file("s1.tif"), 2, 1, {1.0f, 2.0f});
    LibtiffTypedImage image;
    image.width = 2;
    image.height = 1;
    image.bits = 16;
    image.sample_format = 2;
    image.samples = {1, 0, 0xff, 0xff};
    write_typed_with_libtiff(folder_.file("s2.tif"), image);
    result = run({"--input", "s%d.tif", "1", "2"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "s2.tif : sample format differs from the first slice.\n");
    // Signed samples on their own, with their sign: -1 and 1.
    result = run({"--input", "s%d.tif", "--calibration", "1", "0", "2", "2", "0", "100"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_NE(result.out.find("minimum LAC: -1\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("slabtone --input s%d.tif --calibration 1 0 2 2 -1 1\n"),
              std::string::npos)
        << result.out;
}

}  // namespace
}  // namespace slabtone::test
