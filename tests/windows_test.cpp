// What the Windows build asks of Windows: cores and memory from its calls
// and its job objects, the output file renamed over an earlier one, and
// Ctrl+C or Ctrl+Break in the console during a write.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <thread>

#include "platform/atomic_file.hpp"
#include "platform/cores.hpp"
#include "platform/memory_limits.hpp"
#include "platform/windows/console_events.hpp"
#include "platform/windows/job_limits.hpp"
#include "testkit/program_fixture.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;

TEST(WindowsCores, FollowTheProcessAffinity) {
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system));
    EXPECT_EQ(usable_cores(), std::min<unsigned>(std::popcount(process),
                                                 ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)));
    if (std::popcount(system) < 2) GTEST_SKIP() << "one processor: no smaller mask to set";
    ASSERT_TRUE(::SetProcessAffinityMask(::GetCurrentProcess(), system & (~system + 1)));
    const unsigned pinned = usable_cores();
    ::SetProcessAffinityMask(::GetCurrentProcess(), process);
    EXPECT_EQ(pinned, 1u);
}

struct CapCase {
    DWORD flags;
    DWORD rate;  // hundredths of a percent of every processor
    unsigned processors;
    std::optional<unsigned> cores;
};

TEST(WindowsJob, CpuRateCapAsCores) {
    const DWORD hard = JOB_OBJECT_CPU_RATE_CONTROL_ENABLE | JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP;
    const CapCase cases[] = {
        {0, 5000, 8, std::nullopt},                                   // no control
        {JOB_OBJECT_CPU_RATE_CONTROL_ENABLE, 5000, 8, std::nullopt},  // weighted, no cap
        {hard, 0, 8, std::nullopt},
        {hard, 5000, 8, 4u},
        {hard, 10000, 8, 8u},
        {hard, 100, 8, 1u},   // 0.08 of a core still runs one
        {hard, 6250, 3, 2u},  // 1.875 cores keep two busy
        {hard, 3334, 3, 2u},  // a hair over one core
        {hard, 3333, 3, 1u},
    };
    for (const CapCase& c : cases) {
        JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate{};
        rate.ControlFlags = c.flags;
        rate.CpuRate = c.rate;
        EXPECT_EQ(cores_under_cpu_cap(rate, c.processors), c.cores)
            << c.flags << " " << c.rate << " " << c.processors;
    }
}

TEST(WindowsJob, MemoryLimitsAsAddressSpaceAndGroup) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
    job.ProcessMemoryLimit = 3u << 20;
    job.JobMemoryLimit = 5u << 20;
    MemoryLimits limits;
    limits.mapped = 2u << 20;
    apply_job_memory_limits(job, limits);  // no flags: no limit
    EXPECT_FALSE(limits.address_space || limits.cgroup_limit || limits.cgroup_room);

    job.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    apply_job_memory_limits(job, limits);
    EXPECT_EQ(limits.address_space, 3u << 20);
    EXPECT_EQ(limits.address_room(), 1u << 20);
    EXPECT_FALSE(limits.cgroup_limit.has_value());

    job.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_JOB_MEMORY;
    apply_job_memory_limits(job, limits);
    EXPECT_EQ(limits.cgroup_limit, 5u << 20);
    EXPECT_EQ(limits.cgroup_room, 3u << 20);
    limits.mapped = 6u << 20;  // more than the job may hold
    apply_job_memory_limits(job, limits);
    EXPECT_EQ(limits.cgroup_room, 0u);
    EXPECT_EQ(limits.address_room(), 0u);
}

TEST(WindowsMemory, FromTheSystemAndFromAJob) {
    const MemoryLimits free_run = current_memory_limits();
    ASSERT_TRUE(free_run.physical.has_value());
    EXPECT_EQ(free_run.physical, installed_memory());
    ASSERT_TRUE(free_run.available.has_value());
    EXPECT_LE(*free_run.available, *free_run.physical);
    EXPECT_GT(free_run.mapped, 0u);
    EXPECT_FALSE(free_run.address_space.has_value());
    EXPECT_FALSE(free_run.cgroup_limit.has_value());

    // Each test runs in a process of its own; this one ends inside the job.
    const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    ASSERT_NE(job, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_JOB_MEMORY;
    limits.ProcessMemoryLimit = std::size_t{48} << 30;
    limits.JobMemoryLimit = std::size_t{64} << 30;
    ASSERT_TRUE(
        ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits));
    ASSERT_TRUE(::AssignProcessToJobObject(job, ::GetCurrentProcess()));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION kept{};
    ASSERT_TRUE(::QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &kept,
                                            sizeof kept, nullptr));
    if (kept.ProcessMemoryLimit != limits.ProcessMemoryLimit) {
        GTEST_SKIP() << "this system keeps no memory limits for a job (Wine 8 does not)";
    }
    const MemoryLimits in_job = current_memory_limits();
    EXPECT_EQ(in_job.address_space, std::uint64_t{48} << 30);
    EXPECT_EQ(in_job.cgroup_limit, std::uint64_t{64} << 30);
    ASSERT_TRUE(in_job.cgroup_room.has_value());
    EXPECT_LE(*in_job.cgroup_room, std::uint64_t{64} << 30);
    EXPECT_GT(*in_job.cgroup_room, std::uint64_t{63} << 30);
}

TEST_F(ProgramTest, LinesEndInCrLfAndTheProgressLineInALoneCr) {
    // Standard output is a text stream, as Windows programs write it; the
    // capture in run_program reads CR LF as LF, so this looks at the bytes.
    put_example(1);
    const std::string captured = folder_.file("out.txt");
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE out = ::CreateFileA(captured.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    std::string command = "\"" + slabtone_binary() + "\" 1 1 0 2";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(::CreateProcessA(slabtone_binary().c_str(), command.data(), nullptr, nullptr, TRUE,
                                 0, nullptr, folder_.path().c_str(), &startup, &child));
    ::CloseHandle(out);
    ::WaitForSingleObject(child.hProcess, INFINITE);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    const std::vector<std::uint8_t> bytes = read_file(captured);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "rec0001.tif(16bit) -> ro0001.tif(8bit)\r\r\nfinish\r\n");
}

TEST_F(ProgramTest, AnOutputOpenElsewhereStaysWhole) {
    // Another program (a viewer) has the old ro0001.tif open without
    // letting it be replaced: the run fails on it and leaves it as it was,
    // with no temporary file beside it.
    put_example(1);
    write_file(folder_.file("ro0001.tif"), {'o', 'l', 'd'});
    const HANDLE viewer = ::CreateFileA(folder_.file("ro0001.tif").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    const ProgramResult held = run({"1", "1", "0", "2"});
    ::CloseHandle(viewer);
    EXPECT_EQ(held.exit_status, 1);
    EXPECT_EQ(held.err, "ro0001.tif : cannot write file.\n");
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(names_in(folder_.path()), (std::vector<std::string>{"rec0001.tif", "ro0001.tif"}));
    // Closed, it is replaced.
    ASSERT_EQ(run({"1", "1", "0", "2"}).exit_status, 0);
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example());
}

bool has_temporary(const std::string& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(".ro0001.tif.", 0) == 0) return true;
    }
    return false;
}

TEST_F(ProgramTest, AnOutputHeldForAMomentIsStillReplaced) {
    // A virus scanner or an indexer that opens the old file without
    // sharing it, while the new one is written, and lets go a moment later:
    // the rename waits for it rather than fail the run.
    const std::uint32_t size = 2048;
    put_slice(1, slice_of(std::vector<std::uint16_t>(std::size_t{size} * size, 1500), size,
                          kExampleRecord));
    write_file(folder_.file("ro0001.tif"), {'o', 'l', 'd'});
    const HANDLE scanner = ::CreateFileA(folder_.file("ro0001.tif").c_str(), GENERIC_READ,
                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    std::atomic<bool> ended{false};
    ProgramResult result;
    std::thread runner([&] {
        result = run({"1", "1", "0", "2"});
        ended = true;
    });
    while (!ended && !has_temporary(folder_.path())) {
    }
    // Long after a slice of this size is written, and within the time
    // the rename is tried again.
    ::Sleep(150);
    ::CloseHandle(scanner);
    runner.join();
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(names_in(folder_.path()), (std::vector<std::string>{"rec0001.tif", "ro0001.tif"}));
    EXPECT_GT(read_file(folder_.file("ro0001.tif")).size(), std::size_t{size} * size);
}

TEST_F(ProgramTest, AReadOnlyOutputIsReplacedAsOnLinux) {
    // Renaming onto a name replaces whatever file has it, whatever its
    // mode, on Linux; the read-only attribute must not stop it here either.
    put_example(1);
    write_file(folder_.file("ro0001.tif"), {'o', 'l', 'd'});
    ASSERT_TRUE(::SetFileAttributesA(folder_.file("ro0001.tif").c_str(), FILE_ATTRIBUTE_READONLY));
    const ProgramResult result = run({"1", "1", "0", "2"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(read_file(folder_.file("ro0001.tif")), expected_example());
    EXPECT_EQ(::GetFileAttributesA(folder_.file("ro0001.tif").c_str()) & FILE_ATTRIBUTE_READONLY,
              0u);
    EXPECT_EQ(names_in(folder_.path()), (std::vector<std::string>{"rec0001.tif", "ro0001.tif"}));
}

TEST_F(ProgramTest, ABreakInTheConsoleLeavesNoTemporaryFile) {
    // A 64 MB slice takes long enough to write that the break lands while
    // the temporary file exists.
    const std::uint32_t size = 5792;
    put_slice(1, slice_of(std::vector<std::uint16_t>(std::size_t{size} * size, 1500), size,
                          kExampleRecord));
    // The child gets a process group of its own, so that the break reaches
    // it and not this test.
    std::string command = "\"" + slabtone_binary() + "\" 1 1 0 2";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(::CreateProcessA(slabtone_binary().c_str(), command.data(), nullptr, nullptr, FALSE,
                                 CREATE_NEW_PROCESS_GROUP, nullptr, folder_.path().c_str(),
                                 &startup, &child));
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        seen = has_temporary(folder_.path());
        if (!seen && ::WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0) break;
    }
    const bool sent = seen && ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child.dwProcessId);
    if (seen && !sent) ::TerminateProcess(child.hProcess, 1);
    ::WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(child.hProcess, &code);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    ASSERT_TRUE(seen) << "the run ended before its temporary file was seen";
    if (!sent) GTEST_SKIP() << "no console to send the break through (Wine without one)";
    EXPECT_EQ(code, STATUS_CONTROL_C_EXIT);
    EXPECT_EQ(names_in(folder_.path()), (std::vector<std::string>{"rec0001.tif"}));
}

TEST(WindowsConsole, AnEventMidWriteRemovesTheTemporaryFile) {
    // The handler runs on a thread of its own while the file is being
    // written, as the system runs it; the process would end when it returns.
    TempFolder folder;
    write_file(folder.file("ro0001.tif"), {'o', 'l', 'd'});
    {
        AtomicFile file(folder.file("ro0001.tif"));
        ASSERT_GE(file.fd(), 0);
        const std::vector<std::uint8_t> half(1 << 20, 7);
        ASSERT_TRUE(write_all_at(file.fd(), 0, half));
        EXPECT_EQ(names_in(folder.path()).size(), 2u);  // the file and its temporary file
        BOOL answer = TRUE;
        std::thread([&] { answer = remove_temporary_on_console_event(CTRL_C_EVENT); }).join();
        EXPECT_FALSE(answer);  // on to the handler that ends the process
        EXPECT_FALSE(file.commit());
    }
    EXPECT_EQ(names_in(folder.path()), (std::vector<std::string>{"ro0001.tif"}));
    EXPECT_EQ(read_file(folder.file("ro0001.tif")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

}  // namespace
}  // namespace slabtone::test
