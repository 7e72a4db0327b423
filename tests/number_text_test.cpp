// Numbers read and written as the GNU C library does it, on every system
// the programs are built for: the files and messages of a run must not
// depend on the C runtime underneath.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "convert/description_record.hpp"
#include "slabtone/slabtone.hpp"

namespace slabtone::test {
namespace {

struct IntCase {
    const char* text;
    int value;
};

// glibc's atoi: a 64-bit strtol, clamped, its low 32 bits kept.
TEST(NumberText, IntegersAsGlibcAtoi) {
    const IntCase cases[] = {
        {"12", 12},
        {"  \t\n-7x", -7},
        {"+3", 3},
        {"0x1A", 0},
        {"abc", 0},
        {"", 0},
        {"\v8", 8},
        {"2147483648", -2147483647 - 1},
        {"4294967297", 1},
        {"-2147483649", 2147483647},
        {"99999999999999999999", -1},
        {"-99999999999999999999", 0},
    };
    for (const IntCase& c : cases) EXPECT_EQ(int_from_text(c.text), c.value) << c.text;
}

struct DoubleCase {
    const char* text;
    double value;
};

TEST(NumberText, RealsAsGlibcAtof) {
    const double inf = std::numeric_limits<double>::infinity();
    const DoubleCase cases[] = {
        {"0.1", 0.1},
        {"  -2.5e-3x", -2.5e-3},
        {"+.5", 0.5},
        {"0x1.8p3", 12.0},
        {"0X1P-2", 0.25},
        {"inf", inf},
        {"-Infinity", -inf},
        {"1e400", inf},
        {"-1e-400", -0.0},
        {"2.4703282292062328e-324", 4.9406564584124654e-324},  // just above half: rounds up
        {"2.4703282292062327e-324", 0.0},                      // just below
        {"1.7976931348623159e308", inf},
        {"9007199254740993", 9007199254740992.0},  // a tie, to even
        {"1,5", 1.0},
        {"1e", 1.0},
        {".e1", 0.0},
    };
    for (const DoubleCase& c : cases) {
        const double value = double_from_text(c.text);
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << c.text;
    }
    EXPECT_TRUE(std::isnan(double_from_text("nan")));
    EXPECT_TRUE(std::isnan(double_from_text("NAN(123)")));
}

TEST(NumberText, DescriptionIntegersAsGlibcScanf) {
    DescriptionRecord r;
    parse_description("4294967297 0.1 1000 0.5 2 -2147483649 3 4", r);
    EXPECT_EQ(r.field1, 1);
    EXPECT_EQ(r.field6, 2147483647);
    parse_description("99999999999999999999 0x1p3", r);
    EXPECT_EQ(r.field1, -1);
    EXPECT_EQ(r.field2, 8.0);
    EXPECT_EQ(r.field6, 2147483647);  // kept from before
}

struct FormatCase {
    const char* format;
    double value;
    const char* text;
};

std::string formatted(const char* format, double value) {
    char text[512];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Exact decimal expansions, ties to even on the exact binary value.
TEST(NumberText, RealsWrittenAsGlibcPrintf) {
    const FormatCase cases[] = {
        {"%f", 1e23, "99999999999999991611392.000000"},
        {"%f", 2.675, "2.675000"},
        {"%.2f", 2.675, "2.67"},
        {"%.2f", 0.125, "0.12"},
        {"%.2f", 0.375, "0.38"},
        {"%.0f", 2.5, "2"},
        {"%.6f", 5e-7, "0.000000"},  // 5e-7 is stored a little below
        {"%.3f", -0.0004, "-0.000"},
        {"%.17g", 0.1, "0.10000000000000001"},
        {"%.17g", 5e-324, "4.9406564584124654e-324"},
        {"%.17g", 1e21, "1e+21"},
        {"%.17g", std::numeric_limits<double>::infinity(), "inf"},
        {"%f", -std::numeric_limits<double>::infinity(), "-inf"},
        {"%g", 12.5, "12.5"},
        {"%g", 1e-5, "1e-05"},
    };
    for (const FormatCase& c : cases) EXPECT_EQ(formatted(c.format, c.value), c.text) << c.format;
    EXPECT_EQ(formatted("%f", std::nan("")), "nan");
    char text[64];
    std::snprintf(text, sizeof text, "%lld %llu", -5LL, 18446744073709551615ULL);
    EXPECT_STREQ(text, "-5 18446744073709551615");
}

}  // namespace
}  // namespace slabtone::test
