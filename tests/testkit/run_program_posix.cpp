#include "testkit/run_program.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "testkit/libtiff_files.hpp"

namespace slabtone::test {

ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& folder, const std::function<void()>& before_exec) {
    // Captured outside `folder`, so that the folder holds only what the
    // program made.
    auto capture_file = [] {
        char name[] = "/tmp/slabtone-capture-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd < 0) throw std::runtime_error("mkstemp failed");
        ::close(fd);
        return std::string(name);
    };
    std::string out_path = capture_file();
    std::string err_path = capture_file();
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::chdir(folder.c_str()) != 0) ::_exit(127);
        ::dup2(out, 1);
        ::dup2(err, 2);
        // The program starts with standard input, output and error only,
        // whatever the test runner left open.
        ::close_range(3, ~0U, 0);
        if (before_exec) before_exec();
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0) {
    }
    ProgramResult result;
    result.max_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    auto out_bytes = read_file(out_path);
    auto err_bytes = read_file(err_path);
    result.out.assign(out_bytes.begin(), out_bytes.end());
    result.err.assign(err_bytes.begin(), err_bytes.end());
    ::unlink(out_path.c_str());
    ::unlink(err_path.c_str());
    return result;
}

std::string four_core_binary() {
    const char* copy = std::getenv("SLABTONE_TEST_FOUR_CORE_BINARY");
    return copy != nullptr && *copy != '\0' ? copy : SLABTONE_FOUR_CORE_BINARY_PATH;
}

}  // namespace slabtone::test
