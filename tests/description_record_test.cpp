// The description record: C formatted input and output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "convert/description_record.hpp"

namespace slabtone::test {
namespace {

TEST(DescriptionRecord, ParsesAllEightFields) {
    DescriptionRecord r;
    parse_description("12\t0.0025\t1000\t-0.5\t3.25\t800\t0.1\t2", r);
    EXPECT_EQ(r.field1, 12);
    EXPECT_EQ(r.field2, 0.0025);
    EXPECT_EQ(r.lac_scale, 1000.0);
    EXPECT_EQ(r.lac_offset, -0.5f);
    EXPECT_EQ(r.field5, 3.25);
    EXPECT_EQ(r.field6, 800);
    EXPECT_EQ(r.field7, 0.1);
    EXPECT_EQ(r.field8, 2.0);
    EXPECT_TRUE(r.calibrated());
}

TEST(DescriptionRecord, FieldFourIsSinglePrecision) {
    DescriptionRecord r;
    parse_description("1 2 3 0.7", r);
    EXPECT_EQ(r.lac_offset, 0.7f);
    EXPECT_NE(static_cast<double>(r.lac_offset), 0.7);
}

struct ParseCase {
    const char* name;
    const char* text;
    // The record after parsing `text` over a record that holds 1..8.
    int field1;
    double field2, lac_scale;
    float lac_offset;
    double field5;
    int field6;
    double field7, field8;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, StoresOnlyConvertedFields) {
    DescriptionRecord r;
    parse_description("1\t2\t3\t4\t5\t6\t7\t8", r);
    const ParseCase& c = GetParam();
    parse_description(c.text, r);
    EXPECT_EQ(r.field1, c.field1);
    EXPECT_EQ(r.field2, c.field2);
    EXPECT_EQ(r.lac_scale, c.lac_scale);
    EXPECT_EQ(r.lac_offset, c.lac_offset);
    EXPECT_EQ(r.field5, c.field5);
    EXPECT_EQ(r.field6, c.field6);
    EXPECT_EQ(r.field7, c.field7);
    EXPECT_EQ(r.field8, c.field8);
}

const ParseCase kParses[] = {
    {"empty", "", 1, 2, 3, 4, 5, 6, 7, 8},
    {"no_number", "reconstruction", 1, 2, 3, 4, 5, 6, 7, 8},
    {"third_missing", "10\t20\tx\t40", 10, 20, 3, 4, 5, 6, 7, 8},
    {"more_than_eight", "9 9 9 9 9 9 9 9 9 9", 9, 9, 9, 9, 9, 9, 9, 9},
    {"spaces_and_newlines_match_tabs", "  11\n\n22   33\t 44 55 66 77 88", 11, 22, 33, 44, 55, 66,
     77, 88},
    {"no_separator_needed", "11 22.5-3", 11, 22.5, -3, 4, 5, 6, 7, 8},
    {"integer_field_stops_at_point", "1.5 2 3", 1, 0.5, 2, 3, 5, 6, 7, 8},
    {"hex_float", "1 0x1p-2 0x10", 1, 0.25, 16, 4, 5, 6, 7, 8},
};

INSTANTIATE_TEST_SUITE_P(Parses, ParseTest, ::testing::ValuesIn(kParses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DescriptionRecord, InfAndNanFollowTheCLibrary) {
    DescriptionRecord r;
    parse_description("1 2 inf nan", r);
    EXPECT_TRUE(std::isinf(r.lac_scale));
    EXPECT_TRUE(std::isnan(r.lac_offset));
}

TEST(DescriptionRecord, CalibrationNeedsFieldsThreeAndFour) {
    DescriptionRecord r;
    parse_description("1 2 1000", r);
    EXPECT_FALSE(r.calibrated());
    parse_description("1 2 1000 -0.5", r);
    EXPECT_TRUE(r.calibrated());
    parse_description("", r);
    EXPECT_TRUE(r.calibrated());
}

TEST(DescriptionRecord, FormatsTheOutputRecord) {
    DescriptionRecord r;
    parse_description("12\t0.0025\t1000\t-0.5\t3.25\t800\t0.1\t2\t99", r);
    EXPECT_EQ(format_description(r, 127.5, 0),
              "12\t0.002500\t127.500000\t0.000000\t3.250000\t800\t0.100000\t2.000000");
    // Negative window for an inverted grey scale; six decimals, rounded.
    EXPECT_EQ(format_description(r, -127.5, 2.0000004),
              "12\t0.002500\t-127.500000\t2.000000\t3.250000\t800\t0.100000\t2.000000");
}

TEST(DescriptionRecord, LongRecordsAreWrittenWhole) {
    DescriptionRecord r;
    parse_description("1 1e300 3 4 -1e300 6 1e100 1e200", r);
    std::string text = format_description(r, 1e250, -1e-7);
    EXPECT_GT(text.size(), 850u);
    EXPECT_EQ(text.substr(0, 4), "1\t10");
    EXPECT_EQ(text.substr(text.size() - 7), ".000000");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 7);
}

}  // namespace
}  // namespace slabtone::test
