// slabtone-window: the distribution, its percentiles, the report, the SVG.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>

#include "convert/slice_conversion.hpp"
#include "measure/lac_distribution.hpp"
#include "slabtone-window/page_encoding.hpp"
#include "slabtone-window/sha256.hpp"
#include "slabtone-window/window_command_line.hpp"
#include "slabtone-window/window_page.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/run_program.hpp"
#include "testkit/slice_files.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {
namespace {

struct Slice {
    std::vector<std::uint16_t> samples;
    double lac_scale;
    float lac_offset;
};

RowTable rows_of(const std::vector<std::uint16_t>& samples) {
    RowTable rows = RowTable::allocate(std::uint32_t(samples.size()), 1, RowTable());
    std::copy(samples.begin(), samples.end(), rows.row(0));
    return rows;
}

// Nearest rank over all LAC values, sorted by brute force.
double brute_force_percentile(std::vector<double> all, double p) {
    std::sort(all.begin(), all.end());
    if (p <= 0) return all.front();
    for (std::size_t k = 1; k <= all.size(); ++k) {
        if (static_cast<long double>(k) * 100 >= static_cast<long double>(p) * all.size()) {
            return all[k - 1];
        }
    }
    return all.back();
}

TEST(LacDistribution, PercentilesEqualABruteForceSort) {
    std::mt19937 random(17);
    for (int stack = 0; stack < 30; ++stack) {
        // A few slices with their own calibrations (some shared), many ties.
        std::vector<Slice> slices;
        const int count = 1 + stack % 5;
        for (int s = 0; s < count; ++s) {
            Slice slice;
            slice.lac_scale = 1000.0 + 250.0 * (s % 3);
            slice.lac_offset = -0.5f + 0.125f * float(s % 2);
            const std::size_t n = 1 + random() % 400;
            for (std::size_t i = 0; i < n; ++i) {
                slice.samples.push_back(std::uint16_t(random() % (stack % 2 ? 7 : 4000)));
            }
            slices.push_back(slice);
        }
        SampleCounts counts;
        std::vector<double> all;
        for (const Slice& slice : slices) {
            count_samples(counts, rows_of(slice.samples), {slice.lac_scale, slice.lac_offset},
                          false);
            for (auto v : slice.samples)
                all.push_back(sample_lac(v, {slice.lac_scale, slice.lac_offset}));
        }
        LacDistribution distribution(counts);
        ASSERT_EQ(distribution.samples(), all.size());
        for (double p : {0.0, 0.5, 1.0, 25.0, 33.3, 50.0, 75.0, 99.5, 99.99, 100.0}) {
            EXPECT_EQ(distribution.percentile(p), brute_force_percentile(all, p))
                << "stack " << stack << " p " << p;
        }
        EXPECT_EQ(distribution.minimum(), *std::min_element(all.begin(), all.end()));
        EXPECT_EQ(distribution.maximum(), *std::max_element(all.begin(), all.end()));
    }
}

TEST(LacDistribution, SingleSampleAndNaN) {
    SampleCounts one;
    count_samples(one, rows_of({1500}), {1000, -0.5f}, false);
    LacDistribution single(one);
    for (double p : {0.0, 0.5, 50.0, 100.0}) EXPECT_EQ(single.percentile(p), 1.0);

    // lac_scale 0 makes sample 0 NaN: counted, but given no LAC value.
    SampleCounts with_nan;
    count_samples(with_nan, rows_of({0, 5}), {0, 0}, false);
    LacDistribution distribution(with_nan);
    EXPECT_EQ(distribution.samples(), 2u);
    EXPECT_EQ(distribution.measured(), 1u);
    EXPECT_TRUE(std::isinf(distribution.percentile(50)));
}

TEST(LacDistribution, SaturationCountsExactlyAsTheConversion) {
    SampleCounts counts;
    count_samples(counts, rows_of(kExampleSamples), {1000, -0.5f}, false);
    // The worked example's bytes: 0, 63, 127, 191, 255, 255.
    const Saturation s = saturation(counts, 0, 2);
    EXPECT_EQ(s.to_black, 1u);
    EXPECT_EQ(s.to_white, 2u);
}

struct UsageCase {
    std::vector<const char*> argv;
    bool valid;
};

TEST(WindowCommandLine, CountsAndPercentages) {
    const UsageCase cases[] = {
        {{"w"}, false},
        {{"w", "1"}, false},
        {{"w", "1", "8"}, true},
        {{"w", "1", "8", "5"}, false},
        {{"w", "1", "8", "1", "99"}, true},
        {{"w", "1", "8", "0", "100"}, true},
        {{"w", "1", "8", "-1", "99"}, false},
        {{"w", "1", "8", "5", "5"}, false},
        {{"w", "1", "8", "50", "10"}, false},
        {{"w", "1", "8", "1", "100.5"}, false},
        {{"w", "1", "8", "1x", "99"}, false},
        {{"w", "1", "8", "nan", "99"}, false},
        {{"w", "1", "8", "1", "2", "3"}, false},
        {{"w", "--svg", "h.svg", "1", "8"}, true},
        {{"w", "1", "8", "--svg"}, false},
        {{"w", "1", "--svg", "a", "8", "--svg", "b"}, false},
        {{"w", "1", "8", "--html", "p.html", "--show", "8,1,4"}, true},
        {{"w", "1", "8", "--html"}, false},
        {{"w", "1", "8", "--html", "a", "--html", "b"}, false},
        {{"w", "1", "8", "--show", "9"}, false},  // outside the range
        {{"w", "1", "8", "--show", "0"}, false},
        {{"w", "1", "8", "--show", "2,,3"}, false},
        {{"w", "1", "8", "--show", "2, 3"}, false},
        {{"w", "1", "8", "--show", "2x"}, false},
        {{"w", "1", "8", "--show", ""}, false},
        {{"w", "1", "8", "--show", "2", "--show", "3"}, false},
        {{"w", "1", "8", "--show", "2"}, false},  // nothing to show it on
        {{"w", "1", "8", "--show", "2", "--svg", "h.svg"}, false},
        {{"w", "1", "8", "--inside-circle"}, true},
        {{"w", "1", "8", "--inside-circle", "--inside-circle"}, false},
        {{"w", "1", "8", "--html", "p.html", "--plane", "5,7"}, true},
        {{"w", "1", "8", "--plane", "5,7"}, false},  // no page for the planes
        {{"w", "1", "8", "--html", "p.html", "--plane", "5"}, false},
        {{"w", "1", "8", "--html", "p.html", "--plane", "-1,3"}, false},
        {{"w", "1", "8", "--html", "p.html", "--plane", "1,2,3"}, false},
    };
    for (const UsageCase& c : cases) {
        auto parsed = parse_window_command_line(int(c.argv.size()), c.argv.data());
        EXPECT_EQ(parsed.has_value(), c.valid) << c.argv.size() << " " << c.argv.back();
    }
    const char* argv[] = {"w", "3", "9", "--svg", "h.svg", "1.5", "98"};
    auto parsed = parse_window_command_line(7, argv);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sta_ly, 3);
    EXPECT_EQ(parsed->dst_ly, 9);
    EXPECT_EQ(parsed->low, 1.5);
    EXPECT_EQ(parsed->high, 98.0);
    EXPECT_EQ(parsed->svg_path, "h.svg");
    // The first, the middle and the last slice unless others are named.
    EXPECT_EQ(parsed->show, (std::vector<std::int64_t>{3, 6, 9}));
    const char* two[] = {"w", "4", "5"};
    EXPECT_EQ(parse_window_command_line(3, two)->show, (std::vector<std::int64_t>{4, 5}));
    const char* named[] = {"w", "-2", "9", "--show", "9,-2,9,0", "--html", "p.html"};
    parsed = parse_window_command_line(7, named);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->show, (std::vector<std::int64_t>{9, -2, 0}));
    EXPECT_EQ(parsed->html_path, "p.html");
}

TEST(WindowPage, HashesAndEscapes) {
    auto hex = [](const std::array<std::uint8_t, 32>& digest) {
        std::string text;
        for (std::uint8_t b : digest) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", b);
            text += two;
        }
        return text;
    };
    // FIPS 180-4 examples, and a message whose padding needs a second block.
    EXPECT_EQ(hex(sha256("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // Text from a slice cannot end the data block or start markup.
    EXPECT_EQ(json_string("a\"</script>\n&\xe9\\"),
              "\"a\\\"\\u003c/script\\u003e\\u000a\\u0026\\u00e9\\\\\"");
}

// Checks that `text` is well-formed XML (balanced elements, quoted
// attributes) and collects the attributes of elements that carry an id.
bool well_formed(const std::string& text,
                 std::map<std::string, std::map<std::string, std::string>>& by_id) {
    std::vector<std::string> open;
    std::size_t at = 0;
    const std::regex attribute(R"re(([A-Za-z_:][-A-Za-z0-9_:.]*)="([^"<]*)")re");
    while ((at = text.find('<', at)) != std::string::npos) {
        const std::size_t end = text.find('>', at);
        if (end == std::string::npos) return false;
        std::string tag = text.substr(at + 1, end - at - 1);
        at = end + 1;
        if (tag.empty()) return false;
        if (tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1)) return false;
            open.pop_back();
            continue;
        }
        const bool self_closing = tag.back() == '/';
        if (self_closing) tag.pop_back();
        const std::string name = tag.substr(0, tag.find(' '));
        std::map<std::string, std::string> attributes;
        std::string rest = tag.substr(name.size());
        for (std::sregex_iterator it(rest.begin(), rest.end(), attribute), last; it != last; ++it) {
            attributes[(*it)[1]] = (*it)[2];
        }
        // Everything between the attributes must be blank.
        if (std::regex_replace(rest, attribute, "").find_first_not_of(" \n") != std::string::npos) {
            return false;
        }
        if (attributes.count("id")) by_id[attributes["id"]] = attributes;
        if (!self_closing) open.push_back(name);
    }
    return open.empty();
}

class WindowProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LibtiffImage image;
        image.width = 64;
        image.height = 48;
        image.compression = 5;
        for (int slice = 1; slice <= 6; ++slice) {
            // Slices 1-3 and 4-6 carry different calibrations; slice 5 has
            // none and takes slice 4's.
            image.description = slice == 5   ? ""
                                : slice <= 3 ? "1\t0\t10000\t-1"
                                             : "1\t0\t8000\t-0.8";
            image.samples = phantom_samples(64, 48, 16, std::uint32_t(slice), true);
            const std::string name = input_name(slice);
            write_with_libtiff(folder_.file(name), image);
        }
    }
    ProgramResult run(const std::vector<std::string>& arguments) {
        return run_program(SLABTONE_WINDOW_BINARY, arguments, folder_.path());
    }
    TempFolder folder_;
};

TEST_F(WindowProgramTest, ReportEndsInACommandThatSlabtoneRuns) {
    ProgramResult result = run({"1", "6", "1", "99", "--svg", "histogram.svg"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err, "");  // progress only on a terminal
    std::istringstream lines(result.out);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    ASSERT_EQ(all.size(), 10u) << result.out;
    EXPECT_EQ(all[0], "slices read: 6");
    EXPECT_EQ(all[1], "samples read: " + std::to_string(6 * 64 * 48));
    const std::regex value(R"((minimum|1%|median|99%|maximum) LAC: -?\d+\.\d{6})");
    for (int i = 2; i <= 6; ++i)
        EXPECT_TRUE(std::regex_match(all[std::size_t(i)], value)) << all[std::size_t(i)];
    EXPECT_TRUE(std::regex_match(all[7], std::regex(R"(converted to 0: \d+\.\d{3}% of samples)")));
    EXPECT_TRUE(
        std::regex_match(all[8], std::regex(R"(converted to 255: \d+\.\d{3}% of samples)")));
    std::smatch command;
    ASSERT_TRUE(std::regex_match(all[9], command,
                                 std::regex(R"(slabtone 1 6 (-?\d+\.\d{6}) (-?\d+\.\d{6}))")));
    EXPECT_EQ(all[3], "1% LAC: " + command[1].str());
    EXPECT_EQ(all[5], "99% LAC: " + command[2].str());

    // The command converts the stack.
    ProgramResult converted =
        run_slabtone({"1", "6", command[1].str(), command[2].str()}, folder_.path());
    EXPECT_EQ(converted.exit_status, 0) << converted.err;

    // The SVG is well-formed and marks the window at its values.
    std::map<std::string, std::map<std::string, std::string>> by_id;
    const auto svg = read_file(folder_.file("histogram.svg"));
    ASSERT_TRUE(well_formed(std::string(svg.begin(), svg.end()), by_id));
    ASSERT_TRUE(by_id.count("lacmin") && by_id.count("lacmax"));
    EXPECT_EQ(by_id["lacmin"]["data-lac"], command[1].str());
    EXPECT_EQ(by_id["lacmax"]["data-lac"], command[2].str());
    EXPECT_LT(std::stod(by_id["lacmin"]["x1"]), std::stod(by_id["lacmax"]["x1"]));
}

TEST_F(WindowProgramTest, BadSlicesAndUsage) {
    ProgramResult missing = run({"1", "7"});
    EXPECT_EQ(missing.exit_status, 1);
    EXPECT_EQ(missing.err, "rec0007.tif : file not found.\n");
    write_file(folder_.file("rec0007.tif"), slice_of({1, 2}, 2, ""));
    write_file(folder_.file("rec0008.tif"), slice_of({1, 2}, 2, ""));
    ProgramResult uncalibrated = run({"7", "8"});
    EXPECT_EQ(uncalibrated.exit_status, 1);
    EXPECT_EQ(uncalibrated.err, "rec0007.tif : calibration not found in image description.\n");
    // The planes must cut the smallest slice (64 x 48): x = 64 does not.
    ProgramResult planes_outside = run({"1", "6", "--html", "p.html", "--plane", "64,0"});
    EXPECT_EQ(planes_outside.exit_status, 1);
    EXPECT_EQ(planes_outside.err, std::string(kWindowUsage));
    EXPECT_FALSE(std::filesystem::exists(folder_.file("p.html")));
    ProgramResult planes_inside = run({"1", "6", "--html", "p.html", "--plane", "63,47"});
    EXPECT_EQ(planes_inside.exit_status, 0) << planes_inside.err;
    const auto page = read_file(folder_.file("p.html"));
    EXPECT_NE(std::string(page.begin(), page.end()).find(R"("planes":{"x":63,"y":47,"step":1)"),
              std::string::npos);
    for (std::vector<std::string> args :
         {std::vector<std::string>{"1"}, {"1", "2", "3"}, {"1", "2", "60", "40"}}) {
        ProgramResult usage = run(args);
        EXPECT_EQ(usage.exit_status, 1);
        EXPECT_EQ(usage.err, std::string(kWindowUsage));
        EXPECT_EQ(usage.out, "");
    }
}

// Inside the reconstruction circle, by the definition itself: in doubles,
// which hold these small half-integers and their squares exactly.
bool inside_circle(std::uint32_t w, std::uint32_t h, std::uint32_t x, std::uint32_t y) {
    const double dx = x - (w - 1) / 2.0;
    const double dy = y - (h - 1) / 2.0;
    const double r = std::min(w, h) / 2.0;
    return dx * dx + dy * dy <= r * r;
}

TEST(ReconstructionCircle, ColumnsOfEveryRowAsTheDefinitionHasThem) {
    for (std::uint32_t w = 1; w <= 41; ++w) {
        for (std::uint32_t h = 1; h <= 41; ++h) {
            for (std::uint32_t y = 0; y < h; ++y) {
                const ColumnRange range = circle_columns(w, h, y);
                for (std::uint32_t x = 0; x < w; ++x) {
                    const bool in_range =
                        std::int64_t(x) >= range.first && std::int64_t(x) <= range.last;
                    ASSERT_EQ(in_range, inside_circle(w, h, x, y))
                        << w << "x" << h << " at (" << x << ", " << y << ")";
                }
            }
        }
    }
    // Far apart sizes: a row through the middle spans the whole short side.
    const ColumnRange middle = circle_columns(2147483647u, 3, 1);
    EXPECT_EQ(middle.last - middle.first + 1, 3);
}

TEST_F(WindowProgramTest, InsideTheCircleTheReportCountsOnlyTheCircle) {
    // Two slices (40 x 30 and 31 x 31) whose corners hold hot samples that
    // would move the upper percentile and the share converted to 255.
    const struct {
        std::uint32_t width, height;
        const char* description;
        double lac_scale;
        float lac_offset;
    } slices[] = {{40, 30, "1\t0\t10000\t-1", 10000, -1.0f},
                  {31, 31, "2\t0\t8000\t-0.5", 8000, -0.5f}};
    std::mt19937 random(5);
    std::vector<double> inside;
    for (int n = 0; n < 2; ++n) {
        LibtiffImage image;
        image.width = slices[n].width;
        image.height = slices[n].height;
        image.description = slices[n].description;
        for (std::uint32_t y = 0; y < image.height; ++y) {
            for (std::uint32_t x = 0; x < image.width; ++x) {
                const bool in = inside_circle(image.width, image.height, x, y);
                const auto sample = std::uint16_t(in ? 8000 + random() % 20000 : 60000);
                image.samples.push_back(sample);
                if (in)
                    inside.push_back(
                        sample_lac(sample, {slices[n].lac_scale, slices[n].lac_offset}));
            }
        }
        write_with_libtiff(folder_.file(input_name(91 + n)), image);
    }
    ProgramResult result = run({"91", "92", "2", "98", "--inside-circle"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    std::istringstream lines(result.out);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    ASSERT_EQ(all.size(), 10u) << result.out;
    EXPECT_EQ(all[1],
              "samples inside the reconstruction circles: " + std::to_string(inside.size()));
    auto fixed = [](double v) {
        char text[64];
        std::snprintf(text, sizeof text, "%.6f", v);
        return std::string(text);
    };
    const double low = brute_force_percentile(inside, 2);
    const double high = brute_force_percentile(inside, 98);
    EXPECT_EQ(all[3], "2% LAC: " + fixed(low));
    EXPECT_EQ(all[5], "98% LAC: " + fixed(high));
    EXPECT_EQ(all[6], "maximum LAC: " + fixed(*std::max_element(inside.begin(), inside.end())));
    // The fractions under the proposed window, as slabtone reads it back.
    const double lac_min = std::atof(fixed(low).c_str());
    const double lac_max = std::atof(fixed(high).c_str());
    std::uint64_t to_zero = 0, to_255 = 0;
    for (double lac : inside) {
        const double p = (lac - lac_min) * (255.0 / (lac_max - lac_min));
        if (p < 1) ++to_zero;
        if (p >= 255) ++to_255;
    }
    auto share = [&](std::uint64_t count) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f", 100.0 * double(count) / double(inside.size()));
        return std::string(text);
    };
    EXPECT_EQ(all[7], "converted to 0: " + share(to_zero) + "% of samples");
    EXPECT_EQ(all[8], "converted to 255: " + share(to_255) + "% of samples");
    // Without the option the hot corners count.
    ProgramResult everything = run({"91", "92", "2", "98"});
    EXPECT_NE(everything.out.find("maximum LAC: " + fixed(60000 / 8000.0 - 0.5)), std::string::npos)
        << everything.out;
}

}  // namespace
}  // namespace slabtone::test
