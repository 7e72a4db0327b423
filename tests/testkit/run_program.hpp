// Runs a program as a child process in a given folder and captures what it
// prints and how it ends.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace slabtone::test {

struct ProgramResult {
    int exit_status = -1;  // -1 when ended by a signal
    int signal = 0;
    long max_rss_kb = 0;  // peak resident memory
    std::string out;
    std::string err;
};

// `before_exec` runs in the child after fork (set limits, signal dispositions).
ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& folder,
                          const std::function<void()>& before_exec = nullptr);

// The slabtone binary of this build (or the copy that SLABTONE_TEST_BINARY
// names).
std::string slabtone_binary();

// A test build of slabtone that runs as on four cores, whatever the machine
// has (or the copy that SLABTONE_TEST_FOUR_CORE_BINARY names); POSIX only.
std::string four_core_binary();

// The slabtone binary of this build.
ProgramResult run_slabtone(const std::vector<std::string>& arguments, const std::string& folder,
                           const std::function<void()>& before_exec = nullptr);

}  // namespace slabtone::test
