// The LZW strip decoder: hand-built code streams for every message and for
// the width boundaries, and libtiff's own streams.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>

#include "fuzz/harnesses.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/lzw_writer.hpp"
#include "testkit/reader_probe.hpp"
#include "testkit/temp_folder.hpp"
#include "testkit/tiff_builder.hpp"
#include "tiff/encoded_bytes.hpp"

namespace slabtone::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::uint16_t>;

constexpr std::uint32_t kLzw = 5;

// An 8-bit LZW slice of `width` x 1 (bits 0: no byte is asked for).
Bytes lzw_slice(const Bytes& strip, std::uint32_t width, std::uint32_t bits = 8,
                std::uint32_t fill_order = 0) {
    SliceLayout layout;
    layout.width = width;
    layout.height = 1;
    layout.bits = bits;
    layout.compression = kLzw;
    layout.fill_order = fill_order;
    layout.strips = {strip};
    return build_slice(layout);
}

// The first n bytes of the de Bruijn sequence of order 2 over all byte
// values: no two adjacent pairs repeat, so every byte becomes a code of
// its own and n bytes give exactly n codes.
Bytes distinct_pairs(std::size_t n) {
    static const Bytes sequence = [] {
        Bytes seq;
        std::vector<int> a(3, 0);
        std::function<void(int, int)> build = [&](int t, int p) {
            if (t > 2) {
                if (2 % p == 0) {
                    for (int j = 1; j <= p; ++j) seq.push_back(std::uint8_t(a[j]));
                }
                return;
            }
            a[t] = a[t - p];
            build(t + 1, p);
            for (int j = a[t - p] + 1; j < 256; ++j) {
                a[t] = j;
                build(t + 1, t);
            }
        };
        build(1, 1);
        return seq;
    }();
    return Bytes(sequence.begin(), sequence.begin() + std::ptrdiff_t(n));
}

struct StreamCase {
    const char* name;
    Bytes strip;
    std::uint32_t width;  // bytes asked for (0 with bits 0)
    std::variant<Samples, Failure> result;
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class LzwStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(LzwStreamTest, DecodesOrNamesTheFault) {
    const StreamCase& c = GetParam();
    Bytes file = c.width == 0 ? lzw_slice(c.strip, 3, 0) : lzw_slice(c.strip, c.width);
    if (std::holds_alternative<Failure>(c.result)) {
        EXPECT_EQ(reader_failure(file), std::get<Failure>(c.result));
    } else if (c.width == 0) {
        EXPECT_EQ(reader_failure(file), std::nullopt);
    } else {
        EXPECT_EQ(read_samples(file), std::get<Samples>(c.result));
    }
}

Bytes codes(std::initializer_list<std::pair<unsigned, unsigned>> list) {
    BitWriter writer;
    for (auto [code, width] : list) writer.put(code, width);
    return writer.bytes();
}

const StreamCase kStreams[] = {
    {"one_byte", {0x80, 0x10, 0x60, 0x20}, 1, Samples{65}},
    {"clear_then_data_with_no_byte_asked", {0x80, 0x10, 0x60, 0x20}, 0, Failure::lzw_missing_end},
    {"clear_then_end_with_no_byte_asked", {0x80, 0x40, 0x40}, 0, Samples{}},
    {"code_equal_to_next_code", {0x80, 0x10, 0x60, 0x50, 0x10}, 3, Samples{65, 65, 65}},
    {"last_string_not_taken", {0x80, 0x10, 0x60, 0x50, 0x10}, 2, Failure::lzw_too_many_codes},
    {"byte_asked_after_last_string",
     {0x80, 0x10, 0x60, 0x50, 0x10},
     4,
     Failure::lzw_unexpected_end},
    {"table_entry", {0x80, 0x10, 0x48, 0x50, 0x28, 0x08}, 4, Samples{65, 66, 65, 66}},
    {"single_encoded_byte", {0x80}, 1, Failure::lzw_too_few_codes},
    {"empty_strip", {}, 1, Failure::lzw_too_few_codes},
    {"first_code_not_clear", codes({{65, 9}, {257, 9}}), 1, Failure::lzw_missing_first_clear},
    {"missing_first_clear_without_bytes", codes({{65, 9}, {257, 9}}), 0,
     Failure::lzw_missing_first_clear},
    {"code_above_next_code", codes({{256, 9}, {65, 9}, {259, 9}, {257, 9}}), 3,
     Failure::lzw_too_large_code},
    {"clear_then_end_while_asked", codes({{256, 9}, {65, 9}, {256, 9}, {257, 9}}), 2,
     Failure::lzw_unexpected_end},
    {"end_at_first_code", codes({{256, 9}, {257, 9}}), 1, Failure::lzw_unexpected_end},
    {"clear_then_clear", codes({{256, 9}, {256, 9}, {65, 9}, {257, 9}}), 1,
     Failure::lzw_unknown_after_clear},
    {"clear_then_258", codes({{256, 9}, {258, 9}, {257, 9}}), 1, Failure::lzw_unknown_after_clear},
    {"clear_then_511", codes({{256, 9}, {511, 9}, {257, 9}}), 1, Failure::lzw_unknown_after_clear},
    {"clear_before_end_accepted", codes({{256, 9}, {65, 9}, {66, 9}, {256, 9}, {257, 9}}), 2,
     Samples{65, 66}},
    {"byte_after_end_code", codes({{256, 9}, {65, 9}, {257, 9}, {0, 8}}), 1,
     Failure::lzw_too_many_codes},
    {"stream_ends_before_end_code", codes({{256, 9}, {65, 9}}), 1, Failure::lzw_too_few_codes},
    {"data_code_where_end_belongs", codes({{256, 9}, {65, 9}, {66, 9}, {257, 9}}), 1,
     Failure::lzw_missing_end},
    {"mid_strip_clear", codes({{256, 9}, {65, 9}, {66, 9}, {256, 9}, {67, 9}, {258, 9}, {257, 9}}),
     5, Samples{65, 66, 67, 67, 67}},
};

INSTANTIATE_TEST_SUITE_P(Streams, LzwStreamTest, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

// Streams from the test encoder, ending right after a widening (codes
// 254, 766, 1790: next_code 511, 1023, 2047) or not, with the end code at
// the narrow width (the strict reading) or the wide one (libtiff).
struct EncodedCase {
    std::size_t bytes;
    bool widened;
};

void PrintTo(const EncodedCase& c, std::ostream* os) {
    *os << c.bytes << " bytes";
}

class LzwEndCodeTest
    : public ::testing::TestWithParam<std::tuple<EncodedCase, EndWidth, bool /*fill 2*/>> {};

TEST_P(LzwEndCodeTest, EndCodeIsAcceptedAtEitherWidthAfterAWidening) {
    const auto& [c, end_width, reversed] = GetParam();
    Bytes data = distinct_pairs(c.bytes);
    LzwEncoding encoding = lzw_encode(data, end_width);
    ASSERT_EQ(encoding.ended_after_widening, c.widened);
    Bytes strip = encoding.bytes;
    if (reversed) {
        for (auto& byte : strip) byte = kReversedBits[byte];
    }
    Bytes file = lzw_slice(strip, std::uint32_t(data.size()), 8, reversed ? 2 : 1);
    EXPECT_EQ(read_samples(file), Samples(data.begin(), data.end()));

    // A byte after the end code is too many in either form.
    strip.push_back(0);
    EXPECT_EQ(reader_failure(lzw_slice(strip, std::uint32_t(data.size()), 8, reversed ? 2 : 1)),
              Failure::lzw_too_many_codes);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, LzwEndCodeTest,
    ::testing::Combine(::testing::Values(EncodedCase{254, true}, EncodedCase{766, true},
                                         EncodedCase{1790, true}, EncodedCase{3837 + 254, true},
                                         EncodedCase{253, false}, EncodedCase{255, false},
                                         EncodedCase{1000, false}, EncodedCase{3837, false},
                                         EncodedCase{20000, false}),
                       ::testing::Values(EndWidth::narrow, EndWidth::wide), ::testing::Bool()),
    [](const auto& info) {
        return std::to_string(std::get<0>(info.param).bytes) +
               (std::get<1>(info.param) == EndWidth::narrow ? "_narrow" : "_wide") +
               (std::get<2>(info.param) ? "_fill2" : "_fill1");
    });

TEST(LzwEndCode, NeitherWidthYieldsTheEndCode) {
    // 254 codes (next_code 511), then code 65 instead of the end code.
    Bytes data = distinct_pairs(254);
    BitWriter writer;
    writer.put(256, 9);
    for (std::uint8_t byte : data) writer.put(byte, 9);
    writer.put(65, 10);
    EXPECT_EQ(reader_failure(lzw_slice(writer.bytes(), 254)), Failure::lzw_missing_end);
}

// After the entry that widened the codes, each end form is an optional
// clear code and the end code at its own width; only when neither yields
// the end code is the strip refused. Both decoding paths must agree.
class LzwEndFormTest : public ::testing::TestWithParam<std::tuple<std::size_t, bool /*fill 2*/>> {};

TEST_P(LzwEndFormTest, WideFormTakesAClearCodeAndNeitherFormMeansMissingEnd) {
    const auto& [count, reversed] = GetParam();
    const Bytes data = distinct_pairs(count);  // one code per byte
    const unsigned wide = lzw_width(258 + unsigned(count) - 1);
    ASSERT_GT(wide, 9u);
    auto data_codes = [&] {
        BitWriter writer;
        writer.put(256, 9);
        for (std::size_t i = 0; i < data.size(); ++i) {
            writer.put(data[i], i == 0 ? 9 : lzw_width(258 + unsigned(i) - 1));
        }
        return writer;
    };
    BitWriter wide_end = data_codes();
    wide_end.put(256, wide).put(257, 9);
    Bytes one_more = wide_end.bytes();
    one_more.push_back(0);
    // A clear code at the narrow width with too few bits after it for a
    // 9-bit code, but enough for one wide code (512, not the end code).
    BitWriter narrow_cut = data_codes();
    narrow_cut.put(256, wide - 1);
    if (narrow_cut.bits() % 8 == 0) narrow_cut.put(0, 1);

    const std::pair<Bytes, std::optional<Failure>> cases[] = {
        {wide_end.bytes(), std::nullopt},
        {one_more, Failure::lzw_too_many_codes},
        {narrow_cut.bytes(), Failure::lzw_missing_end},
        {data_codes().bytes(), Failure::lzw_too_few_codes},  // no end at all
    };
    for (const auto& [strip, expected] : cases) {
        Bytes stored = strip;
        if (reversed) {
            for (auto& byte : stored) byte = kReversedBits[byte];
        }
        const InputFile file =
            InputFile::from_bytes(lzw_slice(stored, std::uint32_t(count), 8, reversed ? 2 : 1));
        for (DecodePath path : {DecodePath::fast, DecodePath::exact}) {
            const fuzz::DecodeOutcome outcome = fuzz::decode_outcome(file, path);
            EXPECT_EQ(outcome.failure, expected) << (path == DecodePath::fast ? "fast" : "exact");
            if (!expected) {
                EXPECT_EQ(outcome.samples, Samples(data.begin(), data.end()));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Widenings, LzwEndFormTest,
                         ::testing::Combine(::testing::Values(254, 766, 1790), ::testing::Bool()),
                         [](const auto& info) {
                             return "next_code_" +
                                    std::to_string(258 + std::get<0>(info.param) - 1) +
                                    (std::get<1>(info.param) ? "_fill2" : "_fill1");
                         });

TEST(LzwTable, FullTable) {
    // 3839 single-byte codes make entries up to 4095 (next_code 4096).
    Bytes data = distinct_pairs(3839);
    // An end code at 12 bits closes the strip.
    EXPECT_EQ(read_samples(lzw_slice(lzw_encode(data, EndWidth::wide, 9999).bytes, 3839)),
              Samples(data.begin(), data.end()));
    // One more data code overflows the table.
    Bytes more = distinct_pairs(3840);
    EXPECT_EQ(reader_failure(lzw_slice(lzw_encode(more, EndWidth::wide, 9999).bytes, 3840)),
              Failure::lzw_table_overflow);
    // A clear code at next_code 4096 continues normally.
    Bytes long_data = distinct_pairs(9000);
    EXPECT_EQ(read_samples(lzw_slice(lzw_encode(long_data, EndWidth::wide, 4096).bytes, 9000)),
              Samples(long_data.begin(), long_data.end()));
}

TEST(LzwTable, RepetitiveDataMakesLongStrings) {
    // Runs of one value build strings of up to ~90 bytes; a long run of
    // zeros after a short one exercises the code == next_code case often.
    Bytes data(5000, 0);
    for (std::size_t i = 0; i < data.size(); i += 97) data[i] = std::uint8_t(i);
    EXPECT_EQ(read_samples(lzw_slice(lzw_encode(data, EndWidth::narrow).bytes, 5000)),
              Samples(data.begin(), data.end()));
}

TEST(LzwStrip, PastTheEndOfTheFileBytesAreAllOnes) {
    // A strip that starts past the end: the first nine bits are all ones.
    SliceLayout layout;
    layout.width = 1;
    layout.height = 1;
    layout.compression = kLzw;
    layout.strips = {{}};
    TiffBuilder b;
    b.long_tag(256, 1).long_tag(257, 1).short_tag(258, 8).short_tag(259, kLzw);
    b.short_tag(262, 1).long_tag(273, 0x7FFFFFF0).long_tag(279, 4);
    EXPECT_EQ(reader_failure(b.build()), Failure::lzw_missing_first_clear);
}

// libtiff's own encoder, with data that ends its strip right after a
// widening: every current libtiff writes that end code at the wider width.
class LibtiffLzwEndTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LibtiffLzwEndTest, DecodesLibtiffStreamsEndingAfterAWidening) {
    TempFolder folder;
    Bytes data = distinct_pairs(GetParam());
    LibtiffImage image;
    image.width = std::uint32_t(data.size());
    image.height = 1;
    image.bits = 8;
    image.compression = COMPRESSION_LZW;
    image.samples.assign(data.begin(), data.end());
    write_with_libtiff(folder.file("slice.tif"), image);
    GraySlice slice = read_gray_tiff(folder.file("slice.tif"));
    EXPECT_EQ(Samples(slice.rows.row(0), slice.rows.row(0) + slice.width), image.samples);
}

INSTANTIATE_TEST_SUITE_P(Widenings, LibtiffLzwEndTest, ::testing::Values(254, 766, 1790));

}  // namespace
}  // namespace slabtone::test
