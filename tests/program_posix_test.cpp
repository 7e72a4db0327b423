// Whole runs of the program under what only POSIX systems have: a
// pseudo-terminal, the umask, a file size limit, the affinity of a child.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>

#include "testkit/program_fixture.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;

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

TEST_F(ProgramTest, OutputIsAPlainFileWithUmaskPermissions) {
    put_example(1);
    ProgramResult result = run({"1", "1", "0", "2"}, [] { ::umask(027); });
    ASSERT_EQ(result.exit_status, 0);
    struct stat info {};
    ASSERT_EQ(::stat(folder_.file("ro0001.tif").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
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
    // Four workers, whatever this machine has.
    const ProgramResult every =
        run_program(four_core_binary(), {"1", "10", "0.5", "50"}, folder_.path());
    ASSERT_EQ(every.exit_status, 0) << every.err;
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

}  // namespace
}  // namespace slabtone::test
