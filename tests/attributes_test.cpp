// The attribute checks in their order, the description, the row table and the
// strip tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>

#include "common/memory_pool.hpp"
#include "testkit/reader_probe.hpp"
#include "testkit/tiff_builder.hpp"

namespace slabtone::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A valid 2x2 8-bit slice built from a table of tags, which each case edits.
struct Tags {
    std::map<std::uint16_t, std::function<void(TiffBuilder&)>> entries;

    Tags() {
        set_long(256, 2);
        set_long(257, 2);
        set_short(262, 1);
        set_short(258, 8);
        entries[273] = [](TiffBuilder& b) { b.long_tag(273, 8); };
        entries[279] = [](TiffBuilder& b) { b.long_tag(279, 4); };
    }
    Tags& set_short(std::uint16_t tag, std::uint32_t v) {
        entries[tag] = [tag, v](TiffBuilder& b) { b.short_tag(tag, v); };
        return *this;
    }
    Tags& set_long(std::uint16_t tag, std::uint32_t v) {
        entries[tag] = [tag, v](TiffBuilder& b) { b.long_tag(tag, v); };
        return *this;
    }
    Tags& erase(std::uint16_t tag) {
        entries.erase(tag);
        return *this;
    }
    Tags& set(std::uint16_t tag, std::function<void(TiffBuilder&)> f) {
        entries[tag] = std::move(f);
        return *this;
    }
    Bytes build(Order order = Order::little) const {
        TiffBuilder b(order);
        b.add_data({1, 2, 3, 4});  // the pixel data, at offset 8
        for (const auto& [tag, add] : entries) add(b);
        return b.build();
    }
};

struct AttributeCase {
    const char* name;
    std::function<void(Tags&)> edit;
    std::optional<Failure> failure;
};

void PrintTo(const AttributeCase& c, std::ostream* os) {
    *os << c.name;
}

class AttributeTest : public ::testing::TestWithParam<std::tuple<AttributeCase, Order>> {};

TEST_P(AttributeTest, FirstFailingCheckSpeaks) {
    const auto& [c, order] = GetParam();
    Tags tags;
    c.edit(tags);
    EXPECT_EQ(reader_failure(tags.build(order)), c.failure);
}

const std::vector<AttributeCase> kAttributes = {
    {"valid", [](Tags&) {}, std::nullopt},
    {"width_absent", [](Tags& t) { t.erase(256); }, Failure::primary_attribute_not_found},
    {"width_zero", [](Tags& t) { t.set_long(256, 0); }, Failure::primary_attribute_not_found},
    {"width_short_ok", [](Tags& t) { t.set_short(256, 2); }, std::nullopt},
    {"width_two_values", [](Tags& t) { t.set(256, [](TiffBuilder& b) {
                                           b.shorts(256, {2, 2});
                                       }); },
     Failure::primary_attribute_not_found},
    {"height_absent", [](Tags& t) { t.erase(257); }, Failure::primary_attribute_not_found},
    {"photometric_absent", [](Tags& t) { t.erase(262); }, Failure::primary_attribute_not_found},
    {"photometric_65535", [](Tags& t) { t.set_short(262, 65535); },
     Failure::primary_attribute_not_found},
    {"photometric_long", [](Tags& t) { t.set_long(262, 1); }, Failure::primary_attribute_not_found},
    {"width_2_31", [](Tags& t) { t.set_long(256, 0x80000000u); }, Failure::too_large_image_size},
    {"height_2_31", [](Tags& t) { t.set_long(257, 0xFFFFFFFFu); }, Failure::too_large_image_size},
    {"width_2_31_beats_photometric",
     [](Tags& t) { t.set_long(256, 0x80000000u).set_short(262, 2); },
     Failure::too_large_image_size},
    {"photometric_rgb", [](Tags& t) { t.set_short(262, 2); },
     Failure::bad_photometric_interpretation},
    {"photometric_white_is_zero", [](Tags& t) { t.set_short(262, 0); }, std::nullopt},
    {"photometric_palette", [](Tags& t) { t.set_short(262, 3); }, std::nullopt},
    {"photometric_mask", [](Tags& t) { t.set_short(262, 4); }, std::nullopt},
    {"photometric_beats_samples", [](Tags& t) { t.set_short(262, 2).set_short(277, 3); },
     Failure::bad_photometric_interpretation},
    {"samples_0", [](Tags& t) { t.set_short(277, 0); }, std::nullopt},
    {"samples_3", [](Tags& t) { t.set_short(277, 3); }, Failure::too_many_samples_per_pixel},
    {"bits_17", [](Tags& t) { t.set_short(258, 17); }, Failure::too_many_bits_per_sample},
    {"samples_beat_bits", [](Tags& t) { t.set_short(277, 2).set_short(258, 17); },
     Failure::too_many_samples_per_pixel},
    {"planar_2", [](Tags& t) { t.set_short(284, 2); }, Failure::bad_planar_configuration},
    {"planar_1", [](Tags& t) { t.set_short(284, 1); }, std::nullopt},
    {"bits_beat_planar", [](Tags& t) { t.set_short(258, 17).set_short(284, 2); },
     Failure::too_many_bits_per_sample},
    {"compression_2", [](Tags& t) { t.set_short(259, 2); }, Failure::unknown_compression},
    {"compression_7", [](Tags& t) { t.set_short(259, 7); }, Failure::unknown_compression},
    {"compression_long_is_absent", [](Tags& t) { t.set_long(259, 7); }, std::nullopt},
    {"planar_beats_compression", [](Tags& t) { t.set_short(284, 2).set_short(259, 7); },
     Failure::bad_planar_configuration},
    {"fill_order_0", [](Tags& t) { t.set_short(266, 0); }, Failure::bad_fill_order},
    {"fill_order_3", [](Tags& t) { t.set_short(266, 3); }, Failure::bad_fill_order},
    {"compression_beats_fill", [](Tags& t) { t.set_short(259, 2).set_short(266, 0); },
     Failure::unknown_compression},
    {"predictor_3", [](Tags& t) { t.set_short(317, 3); }, Failure::unknown_predictor},
    {"fill_beats_predictor", [](Tags& t) { t.set_short(266, 0).set_short(317, 3); },
     Failure::bad_fill_order},
    {"rows_per_strip_0", [](Tags& t) { t.set_long(278, 0); }, Failure::bad_rows_per_strip},
    {"rows_per_strip_max", [](Tags& t) { t.set_long(278, 0xFFFFFFFFu); }, std::nullopt},
    {"offsets_absent", [](Tags& t) { t.erase(273); }, Failure::strip_offset_not_found},
    {"offsets_rational",
     [](Tags& t) { t.set(273, [](TiffBuilder& b) { b.raw_entry(273, kRational, 1, {}); }); },
     Failure::strip_offset_not_found},
    {"offsets_one_too_many",
     [](Tags& t) { t.set(273, [](TiffBuilder& b) {
                       b.longs(273, {8, 8});
                   }); },
     Failure::bad_strip_offset_count},
    {"offsets_short_ok", [](Tags& t) { t.set_short(273, 8); }, std::nullopt},
    {"offsets_missing_beats_counts", [](Tags& t) { t.erase(273).erase(279); },
     Failure::strip_offset_not_found},
    {"counts_absent", [](Tags& t) { t.erase(279); }, Failure::strip_bytes_not_found},
    {"counts_one_too_few",
     [](Tags& t) {
         t.set_long(278, 1);
         t.set(273, [](TiffBuilder& b) { b.longs(273, {8, 10}); });
         t.set(279, [](TiffBuilder& b) { b.longs(279, {2}); });
     },
     Failure::bad_strip_bytes_count},
    {"rows_0_beats_offsets", [](Tags& t) { t.set_long(278, 0).erase(273); },
     Failure::bad_rows_per_strip},
    {"two_strips_as_short_inline",
     [](Tags& t) {
         t.set_short(278, 1);
         t.set(273, [](TiffBuilder& b) { b.shorts(273, {8, 10}); });
         t.set(279, [](TiffBuilder& b) { b.shorts(279, {2, 2}); });
     },
     std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Attributes, AttributeTest,
                         ::testing::Combine(::testing::ValuesIn(kAttributes),
                                            ::testing::Values(Order::little, Order::big)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == Order::little ? "_II" : "_MM");
                         });

TEST(Attributes, DeliveredValues) {
    Tags tags;
    tags.set_short(258, 8).set_short(262, 0);
    GraySlice slice = read_gray_tiff(InputFile::from_bytes(tags.build()), kProbeName);
    EXPECT_EQ(slice.width, 2);
    EXPECT_EQ(slice.height, 2);
    EXPECT_EQ(slice.bits_per_sample, 8);
    // WhiteIsZero samples come out as stored.
    EXPECT_EQ(read_samples(tags.build()), (std::vector<std::uint16_t>{1, 2, 3, 4}));
}

TEST(Attributes, BitsPerSampleDefaultsToOne) {
    for (auto edit : std::vector<std::function<void(Tags&)>>{
             [](Tags& t) { t.erase(258); },
             [](Tags& t) { t.set(258, [](TiffBuilder& b) {
                               b.shorts(258, {8, 8});
                           }); }}) {
        Tags tags;
        edit(tags);
        tags.set_long(279, 2);  // two rows of one byte each at 1 bit per sample
        GraySlice slice = read_gray_tiff(InputFile::from_bytes(tags.build()), kProbeName);
        EXPECT_EQ(slice.bits_per_sample, 1);
    }
}

TEST(Attributes, WithoutRowsNoStripTableIsRead) {
    Tags tags;
    tags.erase(273).erase(279);
    EXPECT_EQ(reader_failure(tags.build(), {.description = true, .rows = false}), std::nullopt);
    EXPECT_EQ(reader_failure(tags.build()), Failure::strip_offset_not_found);
}

struct DescriptionCase {
    const char* name;
    std::function<void(TiffBuilder&)> entry;
    std::optional<std::string> text;
};

void PrintTo(const DescriptionCase& c, std::ostream* os) {
    *os << c.name;
}

class DescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(DescriptionTest, ReadsAsciiOnly) {
    Tags tags;
    tags.set(270, GetParam().entry);
    GraySlice slice = read_gray_tiff(InputFile::from_bytes(tags.build()), kProbeName);
    EXPECT_EQ(slice.description, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, DescriptionTest,
    ::testing::Values(
        DescriptionCase{"absent", [](TiffBuilder&) {}, std::nullopt},
        DescriptionCase{"count_0", [](TiffBuilder& b) { b.raw_entry(270, kAscii, 0, {'x'}); }, ""},
        DescriptionCase{"count_4_inline",
                        [](TiffBuilder& b) {
                            b.raw_entry(270, kAscii, 4, {'a', 'b', 'c', 'd'});
                        },
                        "abcd"},
        DescriptionCase{"count_5_at_offset",
                        [](TiffBuilder& b) {
                            auto at = b.add_data({'h', 'e', 'l', 'l', 'o'});
                            b.at_offset(270, kAscii, 5, at);
                        },
                        "hello"},
        DescriptionCase{"ends_at_first_nul",
                        [](TiffBuilder& b) {
                            auto at = b.add_data({'1', '\t', '2', 0, 'x', 'y', 0});
                            b.at_offset(270, kAscii, 7, at);
                        },
                        "1\t2"},
        DescriptionCase{"runs_past_end_of_file",
                        [](TiffBuilder& b) { b.at_offset(270, kAscii, 100000, 0x7FFFFFF0); }, ""},
        DescriptionCase{"undefined_type",
                        [](TiffBuilder& b) {
                            b.raw_entry(270, 7, 4, {'a', 'b', 'c', 0});
                        },
                        std::nullopt},
        DescriptionCase{"byte_type",
                        [](TiffBuilder& b) {
                            b.raw_entry(270, 1, 4, {'a', 'b', 'c', 0});
                        },
                        std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Attributes, DescriptionCutByEndOfFile) {
    // The text starts at the very end of the file (the entry's size does not
    // depend on the offset, so the first build tells where that is).
    auto build = [](std::uint32_t text_at) {
        Tags tags;
        tags.set(270, [text_at](TiffBuilder& b) { b.at_offset(270, kAscii, 50, text_at); });
        return tags.build();
    };
    Bytes bytes = build(std::uint32_t(build(0).size()));
    for (char c : std::string("1\t2\t3")) bytes.push_back(std::uint8_t(c));
    GraySlice slice = read_gray_tiff(InputFile::from_bytes(bytes), kProbeName);
    EXPECT_EQ(slice.description, "1\t2\t3");
}

// Sizes the machine cannot hold end in the allocation message of that
// buffer, never in a crash.
struct BudgetCase {
    const char* name;
    std::function<void(Tags&)> edit;
    Failure failure;
};

void PrintTo(const BudgetCase& c, std::ostream* os) {
    *os << c.name;
}

class BudgetTest : public ::testing::TestWithParam<BudgetCase> {
  protected:
    void SetUp() override { set_memory_budget(std::uint64_t{64} << 20); }
    void TearDown() override { set_memory_budget(std::nullopt); }
};

TEST_P(BudgetTest, HugeRequestsAreAllocationFailures) {
    Tags tags;
    GetParam().edit(tags);
    EXPECT_EQ(reader_failure(tags.build()), GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(
    Budget, BudgetTest,
    ::testing::Values(
        BudgetCase{"description",
                   [](Tags& t) {
                       t.set(270, [](TiffBuilder& b) { b.at_offset(270, kAscii, 0xFFFFFFFFu, 8); });
                   },
                   Failure::description_allocation},
        BudgetCase{"rows", [](Tags& t) { t.set_long(256, 0x7FFFFFFF).set_long(257, 0x7FFFFFFF); },
                   Failure::cell_allocation},
        BudgetCase{"row_pointers", [](Tags& t) { t.set_long(256, 1).set_long(257, 0x7FFFFFFF); },
                   Failure::cell_allocation}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace slabtone::test
