// Samples from decoded bytes: every bit depth, byte order, fill order and
// horizontal differencing.
#include <gtest/gtest.h>

#include <cstdint>

#include "testkit/reader_probe.hpp"
#include "testkit/tiff_builder.hpp"

namespace slabtone::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::uint16_t>;

struct RowCase {
    const char* name;
    std::uint32_t bits;
    std::uint32_t width;
    std::uint32_t height;
    Bytes strip;
    Samples samples;
    Order order = Order::little;
    std::uint32_t fill_order = 0;
    std::uint32_t predictor = 0;
};

void PrintTo(const RowCase& c, std::ostream* os) {
    *os << c.name;
}

class RowTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowTest, AssemblesSamples) {
    const RowCase& c = GetParam();
    SliceLayout layout;
    layout.width = c.width;
    layout.height = c.height;
    layout.bits = c.bits;
    layout.order = c.order;
    layout.fill_order = c.fill_order;
    layout.predictor = c.predictor;
    layout.strips = {c.strip};
    EXPECT_EQ(read_samples(build_slice(layout)), c.samples);
}

const RowCase kRows[] = {
    {"bits8", 8, 1, 1, {0xAB}, {0x00AB}},
    {"bits16_II", 16, 1, 1, {0x34, 0x12}, {0x1234}},
    {"bits16_MM", 16, 1, 1, {0x12, 0x34}, {0x1234}, Order::big},
    {"bits12", 12, 2, 1, {0xAB, 0xCD, 0xEF}, {0xABC, 0xDEF}},
    {"bits12_MM_same_as_II", 12, 2, 1, {0xAB, 0xCD, 0xEF}, {0xABC, 0xDEF}, Order::big},
    {"bits4_rows_start_on_a_byte", 4, 3, 2, {0x12, 0x34, 0x56, 0x78}, {1, 2, 3, 5, 6, 7}},
    {"bits1", 1, 8, 1, {0xA0}, {1, 0, 1, 0, 0, 0, 0, 0}},
    {"bits1_width3_two_rows", 1, 3, 2, {0xA0, 0x60}, {1, 0, 1, 0, 1, 1}},
    {"bits3", 3, 3, 1, {0b10100111, 0b01000000}, {0b101, 0b001, 0b110}},
    {"bits9", 9, 2, 1, {0xFF, 0x80, 0x00}, {0x1FF, 0x000}},
    {"bits15", 15, 1, 1, {0xFF, 0xFE}, {0x7FFF}},
    {"bits0", 0, 3, 2, {}, {0, 0, 0, 0, 0, 0}},
    {"fill2_bits8", 8, 1, 1, {0x01}, {0x80}, Order::little, 2},
    {"fill2_bits16_MM", 16, 1, 1, {0x01, 0x80}, {0x8001}, Order::big, 2},
    {"fill2_bits4", 4, 2, 1, {0x01}, {8, 0}, Order::little, 2},
    {"predictor_bits8", 8, 3, 1, {10, 250, 10}, {10, 4, 14}, Order::little, 0, 2},
    {"predictor_bits16", 16, 2, 1, {0xFF, 0xFF, 0x02, 0x00}, {0xFFFF, 0x0001}, Order::little, 0, 2},
    {"predictor_restarts_each_row", 8, 2, 2, {1, 1, 5, 1}, {1, 2, 5, 6}, Order::little, 0, 2},
    {"predictor_width1_untouched", 8, 1, 2, {200, 100}, {200, 100}, Order::little, 0, 2},
    {"predictor_bits12_wraps",
     12,
     2,
     1,
     {0xFFF >> 4, (0xF << 4) | 0x0, 0x02},
     {0xFFF, 0x001},
     Order::little,
     0,
     2},
    {"predictor_bits0", 0, 2, 1, {}, {0, 0}, Order::little, 0, 2},
};

INSTANTIATE_TEST_SUITE_P(Rows, RowTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace slabtone::test
