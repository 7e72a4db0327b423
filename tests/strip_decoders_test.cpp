// The uncompressed and PackBits strip decoders, on hand-built strips.
#include <gtest/gtest.h>

#include <cstdint>

#include "testkit/reader_probe.hpp"
#include "testkit/tiff_builder.hpp"

namespace slabtone::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::uint16_t>;

struct StripCase {
    const char* name;
    std::uint32_t compression;
    std::uint32_t bits;
    std::uint32_t width;
    std::uint32_t height;
    std::vector<Bytes> strips;
    std::variant<Samples, Failure> result;
    std::uint32_t rows_per_strip = 0;
    std::uint32_t fill_order = 0;
};

void PrintTo(const StripCase& c, std::ostream* os) {
    *os << c.name;
}

class StripTest : public ::testing::TestWithParam<StripCase> {};

TEST_P(StripTest, DecodesExactlyOrNamesTheFault) {
    const StripCase& c = GetParam();
    SliceLayout layout;
    layout.width = c.width;
    layout.height = c.height;
    layout.bits = c.bits;
    layout.compression = c.compression;
    layout.rows_per_strip = c.rows_per_strip;
    layout.fill_order = c.fill_order;
    layout.strips = c.strips;
    Bytes file = build_slice(layout);
    if (std::holds_alternative<Failure>(c.result)) {
        EXPECT_EQ(reader_failure(file), std::get<Failure>(c.result));
    } else {
        EXPECT_EQ(read_samples(file), std::get<Samples>(c.result));
    }
}

constexpr std::uint32_t kRaw = 1;
constexpr std::uint32_t kPackBits = 32773;

Bytes literal_128() {
    Bytes strip = {127};
    for (int i = 0; i < 128; ++i) strip.push_back(std::uint8_t(i * 3));
    return strip;
}
Samples literal_128_samples() {
    Samples s;
    for (int i = 0; i < 128; ++i) s.push_back(std::uint16_t((i * 3) & 0xFF));
    return s;
}

const StripCase kStrips[] = {
    {"raw_exact", kRaw, 8, 4, 2, {{1, 2, 3, 4, 5, 6, 7, 8}}, Samples{1, 2, 3, 4, 5, 6, 7, 8}},
    {"raw_one_short", kRaw, 8, 4, 2, {{1, 2, 3, 4, 5, 6, 7}}, Failure::raw_too_few_codes},
    {"raw_one_long", kRaw, 8, 4, 2, {{1, 2, 3, 4, 5, 6, 7, 8, 9}}, Failure::raw_too_many_codes},
    {"raw_bits0_empty_strip", kRaw, 0, 3, 1, {{}}, Samples{0, 0, 0}},
    {"raw_bits0_nonempty_strip", kRaw, 0, 3, 1, {{1}}, Failure::raw_too_many_codes},
    {"raw_strips_in_turn",
     kRaw,
     8,
     1,
     10,
     {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10}},
     Samples{1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
     4},
    {"raw_last_strip_long",
     kRaw,
     8,
     1,
     10,
     {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11}},
     Failure::raw_too_many_codes,
     4},
    {"raw_middle_strip_short",
     kRaw,
     8,
     1,
     10,
     {{1, 2, 3, 4}, {5, 6, 7}, {9, 10}},
     Failure::raw_too_few_codes,
     4},
    {"packbits_literal", kPackBits, 8, 3, 1, {{2, 0x41, 0x42, 0x43}}, Samples{0x41, 0x42, 0x43}},
    {"packbits_repeat_3", kPackBits, 8, 3, 1, {{254, 0x58}}, Samples{0x58, 0x58, 0x58}},
    {"packbits_repeat_2", kPackBits, 8, 2, 1, {{255, 0x58}}, Samples{0x58, 0x58}},
    {"packbits_repeat_128", kPackBits, 8, 128, 1, {{129, 0x58}}, Samples(128, 0x58)},
    {"packbits_literal_128", kPackBits, 8, 128, 1, {literal_128()}, literal_128_samples()},
    {"packbits_noops_skipped", kPackBits, 8, 1, 1, {{128, 128, 0, 0x41}}, Samples{0x41}},
    {"packbits_run_across_rows", kPackBits, 8, 2, 2, {{254, 7, 0, 9}}, Samples{7, 7, 7, 9}},
    {"packbits_repeat_longer_than_needed",
     kPackBits,
     8,
     3,
     1,
     {{252, 1}},
     Failure::packbits_too_many_codes},
    {"packbits_literal_longer_than_needed",
     kPackBits,
     8,
     1,
     1,
     {{1, 5, 6}},
     Failure::packbits_too_many_codes},
    {"packbits_trailing_noop", kPackBits, 8, 1, 1, {{0, 5, 128}}, Failure::packbits_too_many_codes},
    {"packbits_unread_header", kPackBits, 8, 1, 1, {{0, 5, 3}}, Failure::packbits_too_many_codes},
    {"packbits_header_last_byte",
     kPackBits,
     8,
     2,
     1,
     {{0, 5, 254}},
     Failure::packbits_too_few_codes},
    {"packbits_literal_cut", kPackBits, 8, 3, 1, {{2, 5, 6}}, Failure::packbits_too_few_codes},
    {"packbits_bits0_empty", kPackBits, 0, 2, 1, {{}}, Samples{0, 0}},
    {"packbits_bits0_nonempty", kPackBits, 0, 2, 1, {{128}}, Failure::packbits_too_many_codes},
    {"packbits_runs_do_not_cross_strips",
     kPackBits,
     8,
     2,
     2,
     {{255, 1}, {255, 2}},
     Samples{1, 1, 2, 2},
     1},
    {"packbits_16bit_big_run", kPackBits, 16, 2, 1, {{253, 0x12}}, Samples{0x1212, 0x1212}},
};

INSTANTIATE_TEST_SUITE_P(Strips, StripTest, ::testing::ValuesIn(kStrips),
                         [](const auto& info) { return std::string(info.param.name); });

// Strips that reach past the end of the file: the offset is set to where
// the file ends (learnt from a first build), so the listed tail bytes are
// the strip's first bytes and the rest is missing.
struct TailCase {
    const char* name;
    std::uint32_t compression;
    std::uint32_t bits;
    std::uint32_t width;
    std::uint32_t fill_order;
    Bytes tail;
    std::uint32_t byte_count;
    std::variant<Samples, Failure> result;
    Order order = Order::little;
};

void PrintTo(const TailCase& c, std::ostream* os) {
    *os << c.name;
}

class TailTest : public ::testing::TestWithParam<TailCase> {};

TEST_P(TailTest, MissingBytesFollowTheEndOfFileRules) {
    const TailCase& c = GetParam();
    auto build = [&](std::uint32_t offset) {
        TiffBuilder b(c.order);
        b.long_tag(256, c.width).long_tag(257, 1).short_tag(258, c.bits);
        b.short_tag(259, c.compression).short_tag(262, 1);
        if (c.fill_order) b.short_tag(266, c.fill_order);
        b.long_tag(273, offset).long_tag(279, c.byte_count);
        return b.build();
    };
    Bytes file = build(std::uint32_t(build(0).size()));
    file.insert(file.end(), c.tail.begin(), c.tail.end());
    if (std::holds_alternative<Failure>(c.result)) {
        EXPECT_EQ(reader_failure(file), std::get<Failure>(c.result));
    } else {
        EXPECT_EQ(read_samples(file), std::get<Samples>(c.result));
    }
}

const TailCase kTails[] = {
    {"raw_8bit_missing_is_65535", kRaw, 8, 3, 0, {7}, 3, Samples{7, 65535, 65535}},
    {"raw_16bit_II_half_missing", kRaw, 16, 2, 0, {0x34, 0x12, 0x12}, 4, Samples{0x1234, 0xFF12}},
    {"raw_16bit_MM_half_missing",
     kRaw,
     16,
     2,
     0,
     {0x12, 0x34, 0x12},
     4,
     Samples{0x1234, 0xFFFF},
     Order::big},
    {"raw_12bit_missing_is_all_ones", kRaw, 12, 2, 0, {0xAB}, 3, Samples{0xABF, 0xFFF}},
    {"raw_fill_order_2_missing_is_255", kRaw, 8, 2, 2, {0x01}, 2, Samples{0x80, 255}},
    {"raw_still_counts_bytes", kRaw, 8, 2, 0, {}, 1, Failure::raw_too_few_codes},
    {"packbits_missing_header_is_255", kPackBits, 8, 2, 0, {}, 2, Samples{65535, 65535}},
    {"packbits_missing_literal_bytes", kPackBits, 8, 3, 0, {2, 9}, 4, Samples{9, 65535, 65535}},
    {"packbits_missing_repeat_byte_fill_2", kPackBits, 8, 2, 2, {0xFF}, 2, Samples{255, 255}},
};

INSTANTIATE_TEST_SUITE_P(PastTheEnd, TailTest, ::testing::ValuesIn(kTails),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StripOffsets, OffsetsOfTwoGigabytesAndMoreAreUnsigned) {
    // Offsets are unsigned 32-bit file positions: 2^31 and above lie past the
    // end of this file and read as all ones, not as negative positions.
    for (std::uint32_t offset : {0x80000000u, 0x80000010u, 0xFFFFFFF0u}) {
        TiffBuilder b;
        b.long_tag(256, 2).long_tag(257, 1).short_tag(258, 8).short_tag(259, kRaw);
        b.short_tag(262, 1).long_tag(273, offset).long_tag(279, 2);
        b.at_offset(270, kAscii, 10, offset);
        GraySlice slice = read_gray_tiff(InputFile::from_bytes(b.build()), kProbeName);
        EXPECT_EQ(slice.description, "");
        EXPECT_EQ(Samples(slice.rows.row(0), slice.rows.row(0) + 2), (Samples{65535, 65535}));
    }
}

}  // namespace
}  // namespace slabtone::test
