// The same, for the program itself and for what only POSIX systems have:
// address-space and open-file limits, pinned cores, a thread that cannot
// start under seccomp, slices that are pipes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <pthread.h>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "common/failure.hpp"
#include "common/memory_pool.hpp"
#include "convert/slice_conversion.hpp"
#include "platform/worker_threads.hpp"
#include "slabtone/measurement.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/run_program.hpp"
#include "testkit/slice_files.hpp"
#include "testkit/slice_run_fixture.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;

// Feeds `bytes` once into the pipe at `path` as soon as a reader opens it.
// A reader that came back for more would wait for ever: until `done`, a
// later reader gets an empty pipe instead, and the run fails rather than
// hang.
std::thread feed_once(const std::string& path, const Bytes& bytes, const std::atomic<bool>& done) {
    return std::thread([path, &bytes, &done] {
        auto open_when_read = [&] {
            for (int i = 0; i < 1000 && !done; ++i) {
                const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) return fd;
                ::usleep(10000);
            }
            return -1;
        };
        int fd = open_when_read();
        if (fd < 0) return;
        ::fcntl(fd, F_SETFL, 0);
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        ::close(fd);
        while ((fd = open_when_read()) >= 0) ::close(fd);
    });
}

TEST_F(InProcessRunTest, APipeSliceIsReadOnceWhenMemoryIsShortBesideOthers) {
    write_stack(folder_, 1024, false);
    const RunOutcome roomy = run(1, 4);
    ASSERT_EQ(roomy.status, 0) << roomy.err;
    const std::string pipe = folder_.file(input_name(2));
    const Bytes bytes = read_file(pipe);
    fs::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    std::thread feeder = feed_once(pipe, bytes, done);
    set_memory_budget(8 * kMiB);
    const RunOutcome piped = run(1, 4);
    done = true;
    feeder.join();
    EXPECT_EQ(piped, roomy);
}

// ---- The program itself, in a child process ----

RunOutcome run_binary(const std::string& folder, const std::function<void()>& before_exec,
                      const std::string& program = slabtone_binary()) {
    const ProgramResult result = run_program(program, {"1", "4", "0", "60"}, folder, before_exec);
    RunOutcome outcome;
    outcome.status = result.exit_status;
    outcome.signal = result.signal;
    outcome.out = result.out;
    outcome.err = result.err;
    // The loader names the program it could not start; both builds are
    // the same program.
    for (std::size_t at; (at = outcome.err.find(program)) != std::string::npos;) {
        outcome.err.replace(at, program.size(), "slabtone");
    }
    collect_outputs(folder, outcome);
    return outcome;
}

void pin_to_one_core() {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu() >= 0 ? sched_getcpu() : 0, &one);
    ::sched_setaffinity(0, sizeof one, &one);
}

void limit_address_space(std::uint64_t bytes) {
    struct rlimit limit {
        bytes, bytes
    };
    ::setrlimit(RLIMIT_AS, &limit);
}

#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer cannot run under an address-space limit
TEST(ProgramUnderLimits, OneCoreAndEveryCoreEndAlikeUnderAnyAddressSpaceLimit) {
    // Slices 1, 2 and 4 take about 3 to 4 MB, slice 3 twice that; the
    // program itself, loaded, a little over 9 MB (below that, not even the
    // C++ runtime can report anything). From too little for any slice,
    // through limits where slice 3 fails alone, to enough for all.
    TempFolder folder;
    write_stack(folder, 1024, true);
    int none = 0, some = 0, all = 0;
    for (std::uint64_t limit = 10 * kMiB; limit <= 26 * kMiB; limit += 512 * 1024) {
        const RunOutcome every = run_binary(
            folder.path(), [&] { limit_address_space(limit); }, four_core_binary());
        const RunOutcome one = run_binary(folder.path(), [&] {
            pin_to_one_core();
            limit_address_space(limit);
        });
        ASSERT_EQ(every, one) << "limit " << limit;
        EXPECT_EQ(every.signal, 0);
        if (every.status == 0) {
            ++all;
            continue;
        }
        // Below the program's own size the loader gives up.
        if (every.err.find("error while loading shared libraries") != std::string::npos) continue;
        // Memory, never anything else, and never a crash.
        EXPECT_TRUE(every.err.find("memory allocation error.\n") != std::string::npos)
            << every.err << " at limit " << limit;
        ++(every.files.empty() ? none : some);
    }
    EXPECT_GT(none, 0);
    EXPECT_GT(some, 0);
    EXPECT_GT(all, 0);
    RecordProperty("limits_failing_at_once", none);
    RecordProperty("limits_failing_at_slice_3", some);
    RecordProperty("limits_converting_all", all);
}
#endif

// A filter that fails every attempt to start a thread, as a process limit
// would: clone3 is "not there" (the C library then tries clone), clone
// fails with EAGAIN. The program forks nothing else.
// With `kill`, the first attempt ends the process with SIGSYS instead.
bool forbid_threads(bool kill = false) {
    const std::uint32_t clone3 = kill ? SECCOMP_RET_KILL_PROCESS : SECCOMP_RET_ERRNO | ENOSYS;
    const std::uint32_t clone = kill ? SECCOMP_RET_KILL_PROCESS : SECCOMP_RET_ERRNO | EAGAIN;
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, clone3),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, clone),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program {
        static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter
    };
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Whether `probe` holds when run in a child process, where whatever it
// changes (limits, filters, the user) ends with the child.
bool true_in_a_child(const std::function<bool()>& probe) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(probe() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Whether the filter takes effect here: a child that installs it and tries
// to start a thread.
bool threads_can_be_forbidden() {
    return true_in_a_child([] {
        pthread_t thread;
        return forbid_threads() &&
               ::pthread_create(
                   &thread, nullptr, [](void*) -> void* { return nullptr; }, nullptr) != 0;
    });
}

// The comparisons of one core against every core mean something on any
// machine: the build they run for every core starts workers even where
// this machine has one core, and one core starts none.
TEST(ProgramUnderLimits, TheEveryCoreSideStartsWorkersOnAnyMachine) {
    if (!threads_can_be_forbidden()) GTEST_SKIP() << "seccomp filters are not available here";
    TempFolder folder;
    write_stack(folder, 256, true);
    auto killed_at_first_thread = [] {
#ifdef __SANITIZE_ADDRESS__
        // The leak check at exit needs a thread of its own.
        ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
        forbid_threads(true);
    };
    const RunOutcome one = run_binary(folder.path(), [&] {
        pin_to_one_core();
        killed_at_first_thread();
    });
    EXPECT_EQ(one.signal, 0);
    EXPECT_EQ(one.files.size(), 4u) << one.err;
    const RunOutcome every = run_binary(folder.path(), killed_at_first_thread, four_core_binary());
    EXPECT_EQ(every.signal, SIGSYS);
}

TEST(ProgramUnderLimits, NoThreadAtAllConvertsLikeOneCore) {
    if (!threads_can_be_forbidden()) GTEST_SKIP() << "seccomp filters are not available here";
    TempFolder folder;
    write_stack(folder, 256, true);
    const RunOutcome one = run_binary(folder.path(), pin_to_one_core);
    ASSERT_EQ(one.status, 0) << one.err;
    auto without_threads = [] {
#ifdef __SANITIZE_ADDRESS__
        // The leak check at exit needs a thread of its own.
        ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
        forbid_threads();
    };
    EXPECT_EQ(run_binary(folder.path(), without_threads, four_core_binary()), one);
}

// As a user with no other process and a limit of two (RLIMIT_NPROC is not
// enforced for root): the program and one worker thread; a second cannot
// start.
bool one_thread_more() {
    return ::setgid(65534) == 0 && ::setuid(65534) == 0 && [] {
        struct rlimit limit {
            2, 2
        };
        return ::setrlimit(RLIMIT_NPROC, &limit) == 0;
    }();
}

// Whether that takes effect here: one thread starts, the second does not.
bool second_thread_can_be_refused() {
    if (::geteuid() != 0) return false;
    return true_in_a_child([] {
        auto idle = [](void*) -> void* {
            ::pause();
            return nullptr;
        };
        pthread_t first, second;
        return one_thread_more() && ::pthread_create(&first, nullptr, idle, nullptr) == 0 &&
               ::pthread_create(&second, nullptr, idle, nullptr) != 0;
    });
}

// Whether the unprivileged user can run what lies in `folder`.
bool reachable_by_nobody(const std::string& folder) {
    return true_in_a_child([&] {
        return ::setgid(65534) == 0 && ::setuid(65534) == 0 && ::access(folder.c_str(), X_OK) == 0;
    });
}

TEST(ProgramUnderLimits, ASecondThreadThatCannotStartChangesNothing) {
    if (!second_thread_can_be_refused()) GTEST_SKIP() << "needs root and RLIMIT_NPROC";
    // The build may lie below a folder only its owner may enter (root's
    // home, a mktemp -d folder): the unprivileged user runs a copy.
    TempFolder bin;
    fs::permissions(bin.path(), fs::perms::owner_all | fs::perms::group_exec |
                                    fs::perms::others_exec | fs::perms::group_read |
                                    fs::perms::others_read);
    const std::string program = bin.file("slabtone");
    fs::copy_file(slabtone_binary(), program);
    const std::string four_cores = bin.file("slabtone-four-cores");
    fs::copy_file(four_core_binary(), four_cores);
    if (!reachable_by_nobody(bin.path())) {
        GTEST_SKIP() << "the temporary folder " << bin.path() << " is closed to other users";
    }
    TempFolder folder;
    fs::permissions(folder.path(), fs::perms::all);  // the unprivileged user writes here
    write_stack(folder, 256, true);
    const RunOutcome one = run_binary(folder.path(), pin_to_one_core, program);
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(run_binary(
                  folder.path(), [] { one_thread_more(); }, four_cores),
              one);
}

// A slice that is a pipe, fed once as a decompressor feeds it: it is read
// exactly once, on one core as on every core, and converts as the same
// bytes in a plain file do. A run that waited for a second writer would be
// ended by its alarm.
class PipeSliceTest : public ::testing::TestWithParam<int> {};

TEST_P(PipeSliceTest, IsReadOnceOnOneCoreAndOnEvery) {
    const int piped = GetParam();
    TempFolder folder;
    write_stack(folder, 256, true);
    const RunOutcome plain = run_binary(folder.path(), pin_to_one_core);
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::string pipe = folder.file(input_name(piped));
    const Bytes bytes = read_file(pipe);
    fs::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (bool one_core : {true, false}) {
        const pid_t feeder = ::fork();
        if (feeder == 0) {
            ::alarm(10);
            const int fd = ::open(pipe.c_str(), O_WRONLY);
            std::size_t done = 0;
            while (fd >= 0 && done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::_exit(done == bytes.size() ? 0 : 1);
        }
        const RunOutcome run = run_binary(
            folder.path(),
            [&] {
                ::alarm(10);
                if (one_core) pin_to_one_core();
            },
            one_core ? slabtone_binary() : four_core_binary());
        int status = 0;
        ::waitpid(feeder, &status, 0);
        EXPECT_EQ(run, plain) << (one_core ? "one core" : "every core");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the feeder was not read";
    }
}

INSTANTIATE_TEST_SUITE_P(Slices, PipeSliceTest, ::testing::Values(1, 3),
                         [](const auto& info) { return "slice_" + std::to_string(info.param); });

#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer opens files of its own
TEST(ProgramUnderLimits, OneCoreAndEveryCoreEndAlikeUnderAnyOpenFileLimit) {
    // From no descriptor beside the standard three to plenty: the same
    // files, output and status either way.
    TempFolder folder;
    write_stack(folder, 256, true);
    for (rlim_t limit = 3; limit <= 10; ++limit) {
        auto limited = [limit] {
            struct rlimit files {
                limit, limit
            };
            ::setrlimit(RLIMIT_NOFILE, &files);
        };
        const RunOutcome every = run_binary(folder.path(), limited, four_core_binary());
        const RunOutcome one = run_binary(folder.path(), [&] {
            pin_to_one_core();
            limited();
        });
        EXPECT_EQ(every, one) << "limit " << limit;
        if (limit >= 4) {
            EXPECT_EQ(every.files.size(), 4u) << "limit " << limit << ": " << every.err;
        }
    }
}
#endif

}  // namespace
}  // namespace slabtone::test

namespace slabtone::test {
namespace {

// slabtone-window reads a float slice that is a pipe once: its second pass
// takes the values kept from the first.
TEST(PipeFloatSlice, TheSecondPassKeepsWhatThePipeGave) {
    TempFolder folder;
    for (int slice = 1; slice <= 3; ++slice) {
        LibtiffTypedImage image;
        image.width = 64;
        image.height = 48;
        std::vector<float> values(std::size_t{image.width} * image.height);
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = static_cast<float>((i * 7919 + slice * 104729) % 10007) * 1e-5f - 0.01f;
        }
        image.samples.resize(values.size() * sizeof(float));
        std::memcpy(image.samples.data(), values.data(), image.samples.size());
        write_typed_with_libtiff(folder.file("f" + std::to_string(slice) + ".tif"), image);
    }
    MeasureRequest request;
    request.first = 1;
    request.last = 3;
    request.folder = folder.path();
    request.input_pattern = "f%d.tif";
    const ProposedWindow plain = propose_window(request, measure_range(request), 1, 99);

    const std::string pipe = folder.file("f2.tif");
    const Bytes bytes = read_file(pipe);
    fs::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    std::thread feeder = feed_once(pipe, bytes, done);
    std::optional<ProposedWindow> piped;
    try {
        const StackMeasurement measured = measure_range(request);
        EXPECT_EQ(measured.kept.size(), 1u);
        piped = propose_window(request, measured, 1, 99);
    } catch (const SliceError& error) {
        ADD_FAILURE() << error.what();
    }
    done = true;
    feeder.join();
    ASSERT_TRUE(piped);
    EXPECT_EQ(piped->command, plain.command);
    EXPECT_EQ(piped->median, plain.median);
    EXPECT_EQ(piped->saturated.to_black, plain.saturated.to_black);
    EXPECT_EQ(piped->saturated.to_white, plain.saturated.to_white);
}

}  // namespace
}  // namespace slabtone::test
