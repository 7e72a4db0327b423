// The header, the byte order and the directory lookups.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "testkit/reader_probe.hpp"
#include "testkit/temp_folder.hpp"
#include "testkit/tiff_builder.hpp"
#include "tiff/tiff_directory.hpp"

namespace slabtone::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct HeaderCase {
    const char* name;
    Bytes bytes;
    bool accepted;  // the header passes (later checks may still fail)
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.name;
}

class HeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTest, AcceptsOnlyMatchingMarksAndMagic42) {
    const HeaderCase& c = GetParam();
    auto failure = reader_failure(c.bytes);
    if (c.accepted) {
        // Nothing follows the header: the first attribute lookup fails.
        EXPECT_EQ(failure, Failure::primary_attribute_not_found);
    } else {
        EXPECT_EQ(failure, Failure::bad_magic_number);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HeaderTest,
    ::testing::Values(HeaderCase{"empty", {}, false}, HeaderCase{"one_byte", {'I'}, false},
                      HeaderCase{"other_first_byte", {'X', 'X', 42, 0, 8, 0, 0, 0}, false},
                      HeaderCase{"IM", {'I', 'M', 42, 0, 8, 0, 0, 0}, false},
                      HeaderCase{"MI", {'M', 'I', 0, 42, 0, 0, 0, 8}, false},
                      HeaderCase{"II_magic_read_big", {'I', 'I', 0, 42, 8, 0, 0, 0}, false},
                      HeaderCase{"II_only", {'I', 'I'}, false},
                      HeaderCase{"II_ok", {'I', 'I', 42, 0, 8, 0, 0, 0}, true},
                      HeaderCase{"MM_ok", {'M', 'M', 0, 42, 0, 0, 0, 8}, true},
                      HeaderCase{"directory_past_end", {'I', 'I', 42, 0, 0xF0, 0, 0, 0}, true},
                      HeaderCase{"directory_above_2_31", {'M', 'M', 0, 42, 0x90, 0, 0, 0}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ByteReaders, PastTheEndOfTheFileReadAllOnes) {
    // Little-endian: a 16-bit read whose second byte is missing gives
    // 0xFF00 plus the first; wholly past the end, all ones.
    InputFile le = InputFile::from_bytes({0x12});
    NumberReader little(le, ByteOrder::little);
    EXPECT_EQ(little.read_u16(), 0xFF12);
    EXPECT_EQ(little.read_u16(), 0xFFFF);
    EXPECT_EQ(little.read_u32(), 0xFFFFFFFFu);

    NumberReader big(le, ByteOrder::big);
    EXPECT_EQ(big.read_u16(), 0xFFFF);

    InputFile three = InputFile::from_bytes({0x01, 0x02, 0x03});
    NumberReader big32(three, ByteOrder::big);
    EXPECT_EQ(big32.read_u32(), 0x0102FFFFu);
    NumberReader little32(three, ByteOrder::little);
    EXPECT_EQ(little32.read_u32(), 0xFF030201u);
}

TEST(ByteReaders, CombineBothOrders) {
    InputFile file = InputFile::from_bytes({0x12, 0x34, 0x56, 0x78});
    NumberReader big(file, ByteOrder::big);
    EXPECT_EQ(big.read_u32(), 0x12345678u);
    NumberReader little(file, ByteOrder::little);
    EXPECT_EQ(little.read_u16(), 0x3412);
    EXPECT_EQ(little.read_u16(), 0x7856);
}

// Lookups on a directory built for each case.
struct LookupCase {
    const char* name;
    std::function<void(TiffBuilder&)> entries;
    std::uint32_t short_result;    // read_short_tag(300, 0x1ABCD)
    std::uint32_t integer_result;  // read_integer_tag(300, 0x1ABCD)
};

void PrintTo(const LookupCase& c, std::ostream* os) {
    *os << c.name;
}

class LookupTest : public ::testing::TestWithParam<std::tuple<LookupCase, Order>> {};

TEST_P(LookupTest, FollowsTypeAndCountRules) {
    const auto& [c, order] = GetParam();
    TiffBuilder builder(order);
    c.entries(builder);
    InputFile file = InputFile::from_bytes(builder.build());
    TiffDirectory directory(file, kProbeName);
    EXPECT_EQ(directory.read_short_tag(300, 0x1ABCD), c.short_result);
    EXPECT_EQ(directory.read_integer_tag(300, 0x1ABCD), c.integer_result);
}

const std::vector<LookupCase> kLookups = {
    {"absent", [](TiffBuilder&) {}, 0xABCD, 0x1ABCD},
    {"other_tag_only", [](TiffBuilder& b) { b.short_tag(301, 5); }, 0xABCD, 0x1ABCD},
    {"single_short", [](TiffBuilder& b) { b.short_tag(300, 65535); }, 65535, 65535},
    {"single_long", [](TiffBuilder& b) { b.long_tag(300, 0x12345678); }, 0xABCD, 0x12345678},
    {"two_shorts",
     [](TiffBuilder& b) {
         b.shorts(300, {1, 2});
     },
     0xABCD, 0x1ABCD},
    {"two_longs",
     [](TiffBuilder& b) {
         b.longs(300, {1, 2});
     },
     0xABCD, 0x1ABCD},
    {"rational",
     [](TiffBuilder& b) {
         b.raw_entry(300, kRational, 1, {0, 0, 0, 0});
     },
     0xABCD, 0x1ABCD},
    {"first_of_two_counts",
     [](TiffBuilder& b) {
         b.short_tag(300, 7);
         b.short_tag(300, 9);
     },
     7, 7},
    {"unsorted",
     [](TiffBuilder& b) {
         b.short_tag(400, 1);
         b.short_tag(300, 3);
         b.short_tag(200, 2);
     },
     3, 3},
};

INSTANTIATE_TEST_SUITE_P(Lookups, LookupTest,
                         ::testing::Combine(::testing::ValuesIn(kLookups),
                                            ::testing::Values(Order::little, Order::big)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == Order::little ? "_II" : "_MM");
                         });

TEST(Directory, EntriesPastTheEndReadAsAllOnes) {
    // A count of 3 entries where the file holds one: the missing entries
    // read as tag 65535 and are skipped.
    TiffBuilder builder;
    builder.short_tag(300, 5);
    Bytes bytes = builder.build();
    bytes[bytes.size() - 4 - 12 - 2] = 3;  // the entry count
    bytes.resize(bytes.size() - 4);        // drop the next-directory offset
    InputFile file = InputFile::from_bytes(bytes);
    TiffDirectory directory(file, kProbeName);
    EXPECT_EQ(directory.read_short_tag(300, 1), 5);
    EXPECT_EQ(directory.read_short_tag(301, 77), 77);
}

TEST(Directory, MissingFileIsFileNotFound) {
    try {
        read_gray_tiff("/nonexistent/folder/rec0001.tif");
        FAIL() << "accepted a missing file";
    } catch (const SliceError& error) {
        EXPECT_EQ(failure_of(error), Failure::file_not_found);
        EXPECT_STREQ(error.what(), "/nonexistent/folder/rec0001.tif : file not found.");
    }
}

TEST(Directory, FolderReadsAsEmptyFile) {
    TempFolder folder;
    std::filesystem::create_directory(folder.file("rec0001.tif"));
    try {
        read_gray_tiff(folder.file("rec0001.tif"));
        FAIL() << "accepted a folder";
    } catch (const SliceError& error) {
        EXPECT_EQ(failure_of(error), Failure::bad_magic_number);
    }
}

}  // namespace
}  // namespace slabtone::test
