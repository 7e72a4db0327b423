// Whole runs of the program in a scratch folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "libtiff_files.hpp"
#include "run_program.hpp"
#include "slice_conversion.hpp"
#include "slice_files.hpp"
#include "temp_folder.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;

std::string progress(int slice) {
    char line[64];
    std::snprintf(line, sizeof line, "rec%04d.tif(16bit) -> ro%04d.tif(8bit)\r", slice, slice);
    return line;
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ProgramTest : public ::testing::Test {
  protected:
    void put_slice(int slice, const std::vector<std::uint8_t>& bytes) {
        const std::string name = input_name(slice);
        write_file(folder_.file(name), bytes);
    }
    void put_example(int slice) { put_slice(slice, slice_of(kExampleSamples, 3, kExampleRecord)); }
    std::vector<std::uint8_t> expected_example(std::uint32_t width = 3, std::uint32_t height = 2,
                                               std::vector<std::uint8_t> bytes = kExampleBytes) {
        return expected_output_file(scratch_.file("expected.tif"), bytes, width, height,
                                    kExampleOutputRecord);
    }
    ProgramResult run(const std::vector<std::string>& arguments,
                      const std::function<void()>& before_exec = nullptr) {
        return run_slabtone(arguments, folder_.path(), before_exec);
    }

    TempFolder folder_;
    TempFolder scratch_;
};

TEST_F(ProgramTest, EmptyRangePrintsOnlyFinish) {
    ProgramResult result = run({"5", "3", "0", "2"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "\nfinish\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(ProgramTest, RangeConvertsEverySliceInOrder) {
    for (int slice = 1; slice <= 3; ++slice) put_example(slice);
    ProgramResult result = run({"1", "3", "0", "2"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, progress(1) + progress(2) + progress(3) + "\nfinish\n");
    for (const char* name : {"ro0001.tif", "ro0002.tif", "ro0003.tif"}) {
        EXPECT_EQ(read_file(folder_.file(name)), expected_example()) << name;
    }
}

TEST_F(ProgramTest, MissingSliceStopsTheRunAndKeepsEarlierOutputs) {
    put_example(1);
    put_example(3);
    ProgramResult result = run({"1", "3", "0", "2"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "rec0002.tif : file not found.\n");
    EXPECT_EQ(result.out, progress(1));
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example());
    EXPECT_EQ(names_in(folder_.path()),
              (std::vector<std::string>{"rec0001.tif", "rec0003.tif", "ro0001.tif"}));
}

// On a terminal the progress line that a failure leaves open is ended
// before the message, so that the message is not written over it; into a
// file (above) every byte stays as it was.
TEST_F(ProgramTest, OnATerminalAFailureMessageGetsALineOfItsOwn) {
    put_example(1);
    put_example(3);
    const struct {
        std::vector<std::string> arguments;
        std::string terminal;
    } cases[] = {
        {{"1", "3", "0", "2"}, progress(1) + "\n"},  // slice 2 is missing
        {{"2", "3", "0", "2"}, ""},                  // no line open yet
        {{"3", "3", "0", "2"}, progress(3) + "\nfinish\n"},
    };
    for (const auto& c : cases) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        const std::string terminal = ::ptsname(master);
        const ProgramResult result = run(c.arguments, [&] {
            const int slave = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
            struct termios mode {};
            ::tcgetattr(slave, &mode);
            ::cfmakeraw(&mode);  // the bytes as written, no CR added before LF
            ::tcsetattr(slave, TCSANOW, &mode);
            ::dup2(slave, 1);
            ::close(slave);
        });
        std::string shown;
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
        ::close(master);
        EXPECT_EQ(shown, c.terminal) << c.arguments[0];
        EXPECT_EQ(result.exit_status, c.arguments[0] == "3" ? 0 : 1);
    }
}

TEST_F(ProgramTest, SliceNamesForAnyNumber) {
    struct Case {
        std::string arg;
        std::string name;
    };
    for (const Case& c : std::vector<Case>{{"abc", "rec0000.tif"},
                                           {"-3", "rec-003.tif"},
                                           {"12345", "rec12345.tif"},
                                           {"-2147483648", "rec-2147483648.tif"},
                                           {"2147483647", "rec2147483647.tif"}}) {
        ProgramResult result = run({c.arg, c.arg, "0", "2"});
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err, c.name + " : file not found.\n");
    }
}

TEST_F(ProgramTest, RangeEndingAtLargestSliceNumberEnds) {
    write_file(folder_.file("rec2147483647.tif"), slice_of(kExampleSamples, 3, kExampleRecord));
    ProgramResult result = run({"2147483647", "2147483647", "0", "2"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "rec2147483647.tif(16bit) -> ro2147483647.tif(8bit)\r\nfinish\n");
    EXPECT_EQ(read_file(folder_.file("ro2147483647.tif")), expected_example());
}

TEST_F(ProgramTest, CropCutsTheSameRectangleFromEverySlice) {
    put_example(1);
    put_example(2);
    ProgramResult result = run({"1", "2", "0", "2", "1", "0", "2", "1"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    auto expected = expected_example(2, 2, {63, 127, 255, 255});
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected);
    EXPECT_EQ(read_file(folder_.file("ro0002.tif")), expected);
}

TEST_F(ProgramTest, CropOfOneSampleAndOfTheWholeImage) {
    put_example(1);
    EXPECT_EQ(run({"1", "1", "0", "2", "2", "1", "2", "1"}).exit_status, 0);
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example(1, 1, {255}));
    EXPECT_EQ(run({"1", "1", "0", "2", "0", "0", "2", "1"}).exit_status, 0);
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example());
}

TEST_F(ProgramTest, CropOutsideTheImageStopsBeforeWriting) {
    put_example(1);
    for (std::vector<std::string> rect : {std::vector<std::string>{"0", "0", "3", "1"},
                                          {"-1", "0", "1", "1"},
                                          {"0", "0", "1", "2"},
                                          {"2", "0", "1", "1"},
                                          {"0", "1", "1", "0"}}) {
        std::vector<std::string> args = {"1", "1", "0", "2"};
        args.insert(args.end(), rect.begin(), rect.end());
        ProgramResult result = run(args);
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err, "rec0001.tif : crop rectangle outside the image.\n");
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(fs::exists(folder_.file("ro0001.tif")));
    }
}

TEST_F(ProgramTest, CalibrationCarriesOverButMustBeSuppliedOnce) {
    put_slice(1, slice_of(kExampleSamples, 3, ""));
    ProgramResult result = run({"1", "1", "0", "2"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "rec0001.tif : calibration not found in image description.\n");
    EXPECT_TRUE(names_in(folder_.path()) == std::vector<std::string>{"rec0001.tif"});

    // Slice 2 without description and slice 3 with a text holding no
    // number take slice 1's record.
    put_example(1);
    put_slice(2, slice_of(kExampleSamples, 3, ""));
    put_slice(3, slice_of(kExampleSamples, 3, "no numbers here"));
    result = run({"1", "3", "0", "2"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    for (const char* name : {"ro0001.tif", "ro0002.tif", "ro0003.tif"}) {
        EXPECT_EQ(read_file(folder_.file(name)), expected_example()) << name;
    }

    // Only three fields: the offset is still missing.
    put_slice(1, slice_of(kExampleSamples, 3, "1\t2\t1000"));
    result = run({"1", "1", "0", "2"});
    EXPECT_EQ(result.err, "rec0001.tif : calibration not found in image description.\n");
}

TEST_F(ProgramTest, RerunReplacesOutputsWhole) {
    put_example(1);
    ASSERT_EQ(run({"1", "1", "0", "2", "0", "0", "2", "1"}).exit_status, 0);
    ASSERT_EQ(run({"1", "1", "0", "2", "0", "0", "0", "0"}).exit_status, 0);
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example(1, 1, {0}));
}

TEST_F(ProgramTest, OutputIsAPlainFileWithUmaskPermissions) {
    put_example(1);
    ProgramResult result = run({"1", "1", "0", "2"}, [] { ::umask(027); });
    ASSERT_EQ(result.exit_status, 0);
    struct stat info {};
    ASSERT_EQ(::stat(folder_.file("ro0001.tif").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(ProgramTest, OutputNameTakenByAFolderCannotBeWritten) {
    put_example(1);
    put_example(2);
    fs::create_directory(folder_.file("ro0002.tif"));
    ProgramResult result = run({"1", "2", "0", "2"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "ro0002.tif : cannot write file.\n");
    EXPECT_EQ(result.out, progress(1));
    EXPECT_EQ(names_in(folder_.path()),
              (std::vector<std::string>{"rec0001.tif", "rec0002.tif", "ro0001.tif", "ro0002.tif"}));
}

TEST_F(ProgramTest, FullDiskLeavesNoIncompleteFile) {
    // A 64 KiB slice against a 16 KiB file size limit.
    std::vector<std::uint16_t> samples(256 * 256, 1500);
    put_slice(1, slice_of(samples, 256, kExampleRecord));
    put_example(2);
    write_file(folder_.file("ro0001.tif"), {'o', 'l', 'd'});
    ProgramResult result = run({"2", "1", "0", "2"});
    result = run({"2", "2", "0", "2"});
    ASSERT_EQ(result.exit_status, 0);
    result = run({"1", "2", "0", "2"}, [] {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            16384, 16384
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "ro0001.tif : cannot write file.\n");
    EXPECT_EQ(result.out, "");
    // The old ro0001.tif is untouched, ro0002.tif from the earlier run
    // stays, and no temporary file is left.
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(names_in(folder_.path()),
              (std::vector<std::string>{"rec0001.tif", "rec0002.tif", "ro0001.tif", "ro0002.tif"}));
}

TEST_F(ProgramTest, FailureMidRangeTouchesNoLaterSlice) {
    // Slices are converted ahead on several threads; a failure at slice 3
    // must still leave slices 4 to 8 alone, old outputs included.
    for (int slice = 1; slice <= 8; ++slice) put_example(slice);
    put_slice(3, slice_of(kExampleSamples, 2, kExampleRecord));  // 2 x 3: crop fails
    write_file(folder_.file("ro0005.tif"), {'o', 'l', 'd'});
    ProgramResult result = run({"1", "8", "0", "2", "2", "0", "2", "1"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "rec0003.tif : crop rectangle outside the image.\n");
    EXPECT_EQ(result.out, progress(1) + progress(2));
    EXPECT_EQ(read_file(folder_.file("ro0005.tif")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    for (const char* name :
         {"ro0003.tif", "ro0004.tif", "ro0006.tif", "ro0007.tif", "ro0008.tif"}) {
        EXPECT_FALSE(fs::exists(folder_.file(name))) << name;
    }
}

TEST_F(ProgramTest, OneCoreConvertsLikeEveryCore) {
    // Pinned to one core there is one worker, which reuses its memory from
    // slice to slice.
    LibtiffImage image;
    image.width = 300;
    image.height = 300;
    image.description = kExampleRecord;
    for (int slice = 1; slice <= 10; ++slice) {
        image.samples = phantom_samples(300, 300, 16, std::uint32_t(slice), true);
        image.compression = slice % 2 ? 5 : 1;
        const std::string name = input_name(slice);
        write_with_libtiff(folder_.file(name), image);
    }
    ASSERT_EQ(run({"1", "10", "0.5", "50"}).exit_status, 0);
    std::vector<std::vector<std::uint8_t>> all_cores;
    for (int slice = 1; slice <= 10; ++slice) {
        const std::string name = output_name(slice);
        all_cores.push_back(read_file(folder_.file(name)));
        fs::remove(folder_.file(name));
    }
    ProgramResult pinned = run({"1", "10", "0.5", "50"}, [] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        ::sched_setaffinity(0, sizeof one, &one);
    });
    ASSERT_EQ(pinned.exit_status, 0) << pinned.err << " signal " << pinned.signal;
    for (int slice = 1; slice <= 10; ++slice) {
        const std::string name = output_name(slice);
        EXPECT_EQ(read_file(folder_.file(name)), all_cores[std::size_t(slice - 1)]) << name;
    }
}

TEST_F(ProgramTest, RecordPassesFromSliceToSliceInOrder) {
    // Every third slice brings a new calibration (and field 1); the others
    // have none or only two fields, and take the last one given.
    const std::uint16_t sample = 2000;
    std::vector<std::vector<std::uint8_t>> expected;
    double lac_scale = 0;
    float lac_offset = 0;
    int field1 = 0;
    for (int slice = 1; slice <= 24; ++slice) {
        std::string description;
        if (slice % 3 == 1) {
            lac_scale = 1000.0 + slice * 10;
            lac_offset = -0.25f * float(slice % 4);
            field1 = slice;
            char text[128];
            std::snprintf(text, sizeof text, "%d\t0\t%f\t%f", field1, lac_scale,
                          double(lac_offset));
            description = text;
        } else if (slice % 3 == 2) {
            description = "77\t5";  // fields 1 and 2 only
            field1 = 77;
        }
        put_slice(slice, slice_of(std::vector<std::uint16_t>(4, sample), 2, description));
        double p = ((sample / lac_scale + double(lac_offset)) - 0.0) * (255.0 / 2.0);
        auto byte = std::uint8_t(std::clamp(int(p), 0, 255));
        char record[256];
        std::snprintf(record, sizeof record, "%d\t%lf\t%lf\t%f\t%lf\t%d\t%lf\t%lf", field1,
                      slice % 3 == 1 ? 0.0 : 5.0, 127.5, 0.0, 0.0, 0, 0.0, 0.0);
        expected.push_back(expected_output_file(scratch_.file("e.tif"),
                                                std::vector<std::uint8_t>(4, byte), 2, 2, record));
    }
    ProgramResult result = run({"1", "24", "0", "2"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    for (int slice = 1; slice <= 24; ++slice) {
        const std::string name = output_name(slice);
        EXPECT_EQ(read_file(folder_.file(name)), expected[std::size_t(slice - 1)]) << name;
    }
}

TEST_F(ProgramTest, EveryCompressionConvertsToTheSameBytes) {
    // The same samples stored uncompressed, as LZW (with and without
    // differencing, big-endian, reversed fill order) and as PackBits.
    struct Storage {
        std::uint16_t compression, predictor, fill_order;
        bool big_endian;
    };
    const Storage storages[] = {{1, 1, 1, false}, {5, 1, 1, false},    {5, 2, 1, true},
                                {5, 2, 2, false}, {32773, 1, 1, true}, {32773, 1, 2, false}};
    LibtiffImage image;
    image.width = 300;
    image.height = 40;
    image.rows_per_strip = 7;
    image.description = kExampleRecord;
    image.samples = phantom_samples(image.width, image.height, 16, 5, true);
    int slice = 1;
    for (const Storage& s : storages) {
        image.compression = s.compression;
        image.predictor = s.predictor;
        image.fill_order = s.fill_order;
        image.big_endian = s.big_endian;
        const std::string name = input_name(slice++);
        write_with_libtiff(folder_.file(name), image);
    }
    ProgramResult result = run({"1", "6", "0.3", "40", "10", "5", "289", "34"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const auto first = read_file(folder_.file("ro0001.tif"));
    EXPECT_GT(first.size(), 280u * 30u);
    for (const char* name :
         {"ro0002.tif", "ro0003.tif", "ro0004.tif", "ro0005.tif", "ro0006.tif"}) {
        EXPECT_EQ(read_file(folder_.file(name)), first) << name;
    }
}

}  // namespace
}  // namespace slabtone::test

namespace slabtone::test {
namespace {

// --version and --help are options only as the sole argument, for both
// programs; with anything beside them the command line is read as always.
struct SoleOptionCase {
    const char* name;
    bool window;
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
};

void PrintTo(const SoleOptionCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kSlabtoneUsage = "usage : slabtone sta_ly dst_ly LACmin LACmax (x1 y1 x2 y2)\n";
const std::string kWindowUsageLine =
    "usage : slabtone-window sta_ly dst_ly [low high] [--svg FILE] [--html FILE] "
    "[--show a,b,...] [--plane X,Y] [--inside-circle]\n";

const SoleOptionCase kSoleOptionCases[] = {
    {"slabtone_version", false, {"--version"}, 0, "slabtone " SLABTONE_VERSION "\n", ""},
    {"slabtone_help", false, {"--help"}, 0, kSlabtoneUsage, ""},
    {"slabtone_version_and_more", false, {"--version", "1"}, 1, "", kSlabtoneUsage},
    {"slabtone_help_among_four", false, {"2", "1", "0", "--help"}, 0, "\nfinish\n", ""},
    {"slabtone_single_dash", false, {"-version"}, 1, "", kSlabtoneUsage},
    {"window_version", true, {"--version"}, 0, "slabtone " SLABTONE_VERSION "\n", ""},
    {"window_help", true, {"--help"}, 0, kWindowUsageLine, ""},
    {"window_help_and_more", true, {"5", "4", "--help"}, 1, "", kWindowUsageLine},
};

class SoleOptionTest : public ::testing::TestWithParam<SoleOptionCase> {};

TEST_P(SoleOptionTest, OnlyAsTheSoleArgument) {
    const SoleOptionCase& c = GetParam();
    TempFolder folder;
    const ProgramResult result = run_program(c.window ? SLABTONE_WINDOW_BINARY : SLABTONE_BINARY,
                                             c.arguments, folder.path());
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(Programs, SoleOptionTest, ::testing::ValuesIn(kSoleOptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace slabtone::test
