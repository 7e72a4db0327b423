// The arithmetic of the window: exact to the last bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "convert/lac_window.hpp"

namespace slabtone::test {
namespace {

WindowCalibration calibration(double lac_scale, float lac_offset, double lac_min, double lac_max) {
    return {lac_scale, lac_offset, lac_min, 255.0 / (lac_max - lac_min)};
}

struct SampleCase {
    const char* name;
    WindowCalibration calibration;
    std::uint16_t sample;
    std::uint8_t byte;
};

void PrintTo(const SampleCase& c, std::ostream* os) {
    *os << c.name;
}

class QuantiseTest : public ::testing::TestWithParam<SampleCase> {};

TEST_P(QuantiseTest, GivesTheExactByte) {
    EXPECT_EQ(quantise_sample(GetParam().sample, GetParam().calibration), GetParam().byte);
}

const WindowCalibration kExample = calibration(1000, -0.5f, 0, 2);
constexpr double kInf = std::numeric_limits<double>::infinity();

const SampleCase kSamples[] = {
    // The worked example: LAC = v / 1000 - 0.5, window [0, 2].
    {"example_0", kExample, 0, 0},
    {"example_500_is_lac_min", kExample, 500, 0},
    {"example_1001_truncates_63_8775", kExample, 1001, 63},
    {"example_1500_truncates_127_5", kExample, 1500, 127},
    {"example_1999", kExample, 1999, 191},
    {"example_2500_is_lac_max", kExample, 2500, 255},
    {"example_65535_saturates", kExample, 65535, 255},
    {"negative_below_1_is_0", kExample, 501, 0},
    // The float nearest 0.7 lies below it: p = 6.9999998807907104.
    {"offset_single_precision", calibration(1, 0.7f, 0, 25.5), 0, 6},
    // LACmin above LACmax: inverted grey scale.
    {"inverted_min_gives_0", calibration(1, 0, 2, 0), 2, 0},
    {"inverted_max_gives_255", calibration(1, 0, 2, 0), 0, 255},
    {"inverted_middle", calibration(1, 0, 2, 0), 1, 127},
    // Products outside the 32-bit range and NaN.
    {"zero_window_positive_is_255", {1, 0, 0, kInf}, 5, 255},
    {"zero_window_at_min_is_nan_0", {1, 0, 5, kInf}, 5, 0},
    {"zero_window_negative_is_0", {1, 0, 9, kInf}, 5, 0},
    {"huge_positive_product_is_255", {1e-300, 0, 0, 1}, 7, 255},
    {"huge_negative_product_is_0", {1e-300, 0, 0, -1}, 7, 0},
    {"zero_scale_sample_0_is_nan_0", {0, 0, 0, 1}, 0, 0},
    {"zero_scale_positive_is_255", {0, 0, 0, 1}, 3, 255},
    {"product_just_below_2_31", {1, 0, 0, 2147483647.0 / 65535}, 65535, 255},
    {"product_just_above_minus_2_31", {1, 0, 65535, 2147483648.0 / 65535}, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Samples, QuantiseTest, ::testing::ValuesIn(kSamples),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Quantise, ProductOf255ExactlyAndJustBelow) {
    // t * window_scale = 255.0 gives 255; one ulp below gives 254.
    EXPECT_EQ(quantise_sample(255, {1, 0, 0, 1.0}), 255);
    EXPECT_EQ(quantise_sample(1, {1, 0, 0, std::nextafter(255.0, 0.0)}), 254);
}

TEST(Quantise, TableEqualsDirectArithmeticForEverySample) {
    const WindowCalibration calibrations[] = {
        kExample,
        calibration(1000, 0.7f, 0.012345, 2.345678),
        calibration(3276.7, -1.25f, -0.1, 9.5),
        calibration(1, 0, 2, 0),
        calibration(-0.0, 0, 0, 1),
        {1, 0, 0, kInf},
    };
    for (const WindowCalibration& c : calibrations) {
        // A 256 x 256 view goes through the table; compare with the
        // per-sample arithmetic.
        std::vector<std::uint16_t> samples(65536);
        for (std::uint32_t v = 0; v < 65536; ++v) samples[v] = std::uint16_t(v);
        SampleView view{samples.data(), 256, 256, 256};
        std::vector<std::uint8_t> bytes(65536);
        QuantisationTable table;
        quantise_slice(view, c, bytes, table);
        for (std::uint32_t v = 0; v < 65536; ++v) {
            ASSERT_EQ(bytes[v], quantise_sample(std::uint16_t(v), c)) << "sample " << v;
        }
    }
}

TEST(Quantise, TableFollowsACalibrationChange) {
    std::vector<std::uint16_t> samples(65536, 1500);
    SampleView view{samples.data(), 256, 256, 256};
    std::vector<std::uint8_t> bytes(65536);
    QuantisationTable table;
    quantise_slice(view, kExample, bytes, table);
    EXPECT_EQ(bytes[0], 127);
    quantise_slice(view, calibration(1000, -0.25f, 0, 2), bytes, table);
    EXPECT_EQ(bytes[0], 159);  // 1.25 * 127.5 = 159.375
    // -0.0 and 0.0 differ: 0 / -0.0 ... sample 1500 / -0.0 is -inf.
    quantise_slice(view, calibration(-0.0, 0, 0, 2), bytes, table);
    EXPECT_EQ(bytes[0], 0);
    quantise_slice(view, calibration(0.0, 0, 0, 2), bytes, table);
    EXPECT_EQ(bytes[0], 255);
}

}  // namespace
}  // namespace slabtone::test

namespace slabtone::test {
namespace {

// The bulk conversion of signed and float samples against quantise_value,
// sample by sample: special values, values beside the thresholds of every
// grey level, and calibrations that skip the division or reverse the scale.
TEST(Quantise, BulkSamplesEqualTheScalarArithmetic) {
    const WindowCalibration calibrations[] = {calibration(1, 0, 0, 25.5),
                                              calibration(1, 0, 0, 63.75),
                                              calibration(1, 0, -0.01f, 0.05f),
                                              calibration(1000, -0.5f, -30, 30),
                                              calibration(-2, 0.5f, -1, 3),
                                              calibration(1, 0, 2, 1),
                                              calibration(1, 0, 1, 1),
                                              calibration(0.25, 1e30f, 0, 1e-30),
                                              calibration(3, 0, -INFINITY, INFINITY)};
    std::vector<float> floats = {0.0f,
                                 -0.0f,
                                 INFINITY,
                                 -INFINITY,
                                 NAN,
                                 -NAN,
                                 std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::max(),
                                 std::numeric_limits<float>::lowest(),
                                 2147483648.0f,
                                 -2147483648.0f,
                                 1e30f,
                                 -1e30f};
    for (const WindowCalibration& c : calibrations) {
        // Values whose product lies on and beside each whole number.
        for (int grey = -2; grey <= 258; ++grey) {
            const double lac = (grey / c.window_scale + c.lac_min - c.lac_offset) * c.lac_scale;
            const auto value = static_cast<float>(lac);
            floats.insert(floats.end(), {value, std::nextafter(value, -INFINITY),
                                         std::nextafter(value, INFINITY)});
        }
    }
    std::vector<std::int16_t> shorts(65536);
    for (std::size_t i = 0; i < shorts.size(); ++i) shorts[i] = static_cast<std::int16_t>(i);
    for (const WindowCalibration& c : calibrations) {
        std::vector<std::uint8_t> bulk(floats.size());
        quantise_samples<float>(reinterpret_cast<const std::uint8_t*>(floats.data()), floats.size(),
                                c, bulk.data());
        for (std::size_t i = 0; i < floats.size(); ++i) {
            ASSERT_EQ(bulk[i], quantise_value(static_cast<double>(floats[i]), c))
                << floats[i] << " under scale " << c.lac_scale << ", LACmin " << c.lac_min;
        }
        bulk.resize(shorts.size());
        quantise_samples<std::int16_t>(reinterpret_cast<const std::uint8_t*>(shorts.data()),
                                       shorts.size(), c, bulk.data());
        for (std::size_t i = 0; i < shorts.size(); ++i) {
            ASSERT_EQ(bulk[i], quantise_value(static_cast<double>(shorts[i]), c)) << shorts[i];
        }
    }
}

}  // namespace
}  // namespace slabtone::test
