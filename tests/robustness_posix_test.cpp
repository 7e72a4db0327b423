// Runs cut short by signals, and runs under resource limits and with
// device files: what only POSIX systems have.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "convert/slice_conversion.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/run_program.hpp"
#include "testkit/slice_files.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Waits until the program has started writing a temporary output file;
// false when it ended first, with its status in `ended` (then it has been
// collected, and its process id may already belong to another process).
bool wait_for_temporary(const std::string& folder, pid_t pid, std::optional<int>& ended) {
    for (int i = 0; i < 200000; ++i) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename().string().rfind(".ro0001.tif.", 0) == 0) return true;
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ended = status;
            return false;
        }
    }
    return false;
}

class KilledRunTest : public ::testing::TestWithParam<int> {};

TEST_P(KilledRunTest, NoTruncatedOutputAndARerunConverts) {
    // A large slice (64 MB in, 32 MB out) takes long enough to write that
    // the signal lands while the file is being written.
    TempFolder folder;
    const std::uint32_t size = 5792;
    write_file(
        folder.file("rec0001.tif"),
        slice_of(std::vector<std::uint16_t>(std::size_t{size} * size, 1500), size, kExampleRecord));
    write_file(folder.file("ro0001.tif"), {'o', 'l', 'd'});
    const int signal_number = GetParam();
    bool caught_writing = false;
    for (int attempt = 0; attempt < 5 && !caught_writing; ++attempt) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::chdir(folder.path().c_str()) != 0) ::_exit(127);
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::execl(SLABTONE_BINARY, SLABTONE_BINARY, "1", "1", "0", "2", nullptr);
            ::_exit(127);
        }
        std::optional<int> ended;
        caught_writing = wait_for_temporary(folder.path(), pid, ended);
        int status = ended.value_or(0);
        if (!ended) {
            // Not collected yet: the id is still this child's.
            ::kill(pid, signal_number);
            ::waitpid(pid, &status, 0);
        }
        if (caught_writing) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number);
        }
        // Either the old file or a complete new one, never a cut one.
        const Bytes now = read_file(folder.file("ro0001.tif"));
        EXPECT_TRUE(now == Bytes({'o', 'l', 'd'}) || now.size() > std::size_t{size} * size);
    }
    EXPECT_TRUE(caught_writing) << "the run always ended before the signal";
    if (signal_number != SIGKILL) {
        // SIGINT and SIGTERM remove the temporary file.
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            EXPECT_NE(entry.path().filename().string().rfind(".ro", 0), 0u) << entry.path();
        }
    }
    ProgramResult rerun = run_slabtone({"1", "1", "0", "2"}, folder.path());
    EXPECT_EQ(rerun.exit_status, 0);
    TempFolder scratch;
    EXPECT_EQ(
        read_file(folder.file("ro0001.tif")),
        expected_output_file(scratch.file("expected.tif"), Bytes(std::size_t{size} * size, 127),
                             size, size, kExampleOutputRecord));
}

INSTANTIATE_TEST_SUITE_P(Signals, KilledRunTest, ::testing::Values(SIGKILL, SIGTERM, SIGINT),
                         [](const auto& info) {
                             return info.param == SIGKILL   ? std::string("kill")
                                    : info.param == SIGTERM ? std::string("term")
                                                            : std::string("int");
                         });

TEST(LongRun, TwoThousandSlicesKeepMemoryAndDescriptorsFlat) {
    TempFolder folder;
    const Bytes slice = slice_of(kExampleSamples, 3, kExampleRecord);
    for (int n = 1; n <= 2000; ++n) {
        const std::string name = input_name(n);
        write_file(folder.file(name), slice);
    }
    // A descriptor leaked per slice would exhaust a limit of 32 long
    // before slice 2000.
    auto few_descriptors = [] {
        struct rlimit limit {
            32, 32
        };
        ::setrlimit(RLIMIT_NOFILE, &limit);
    };
    ProgramResult short_run = run_slabtone({"1", "100", "0", "2"}, folder.path(), few_descriptors);
    ProgramResult long_run = run_slabtone({"1", "2000", "0", "2"}, folder.path(), few_descriptors);
    ASSERT_EQ(short_run.exit_status, 0) << short_run.err;
    ASSERT_EQ(long_run.exit_status, 0) << long_run.err;
    EXPECT_EQ(std::count(long_run.out.begin(), long_run.out.end(), '\r'), 2000);
    // Twenty times the slices, the same peak memory (within 2 MB).
    EXPECT_LT(long_run.max_rss_kb, short_run.max_rss_kb + 2048);
}

#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer cannot run under an address-space limit
TEST(HugeFile, OnlyTheImageIsReadFromAFileLargerThanMemory) {
    // A 6 GB (sparse) slice file whose first image is 3 x 2, against a
    // 64 MB address-space limit: it converts like the image alone.
    TempFolder folder;
    const Bytes head = slice_of(kExampleSamples, 3, kExampleRecord);
    write_file(folder.file("rec0001.tif"), head);
    ASSERT_EQ(::truncate(folder.file("rec0001.tif").c_str(), off_t{6} << 30), 0);
    ProgramResult result = run_slabtone({"1", "1", "0", "2"}, folder.path(), [] {
        struct rlimit limit {
            std::uint64_t{64} << 20, std::uint64_t{64} << 20
        };
        ::setrlimit(RLIMIT_AS, &limit);
    });
    ASSERT_EQ(result.exit_status, 0) << result.err;
    TempFolder scratch;
    EXPECT_EQ(read_file(folder.file("ro0001.tif")),
              expected_output_file(scratch.file("expected.tif"), kExampleBytes, 3, 2,
                                   kExampleOutputRecord));
}
#endif

TEST(HugeFile, AnEndlessDeviceReadsAsTheZerosItHolds) {
    TempFolder folder;
    fs::create_symlink("/dev/zero", folder.file("rec0001.tif"));
    ProgramResult result = run_slabtone({"1", "1", "0", "2"}, folder.path());
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "rec0001.tif : bad magic number.\n");
}

}  // namespace
}  // namespace slabtone::test
