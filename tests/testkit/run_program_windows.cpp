#include <windows.h>

#include <cstdint>
#include <stdexcept>

#include "testkit/libtiff_files.hpp"
#include "testkit/run_program.hpp"

namespace slabtone::test {

namespace {

// One argument as the C runtime's command-line parser splits it back:
// quoted, with the backslashes before a quote (and at the end) doubled.
std::string quoted(const std::string& argument) {
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(2 * backslashes, '\\');
    return text + "\"";
}

// A file the child writes its standard output or error to, outside the
// folder it runs in.
HANDLE capture_file(const std::string& path) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
    return file;
}

// Standard output and error are text streams on Windows: a line ends in
// CR LF. The tests compare with LF.
std::string as_lines(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += static_cast<char>(bytes[i]);
    }
    return text;
}

}  // namespace

ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& folder, const std::function<void()>& before_exec) {
    if (before_exec) throw std::logic_error("no set-up in the child on Windows");
    char temporary[MAX_PATH + 1];
    if (::GetTempPathA(sizeof temporary, temporary) == 0) throw std::runtime_error("GetTempPath");
    const std::string unique =
        std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64());
    const std::string out_path = std::string(temporary) + "slabtone-out-" + unique;
    const std::string err_path = std::string(temporary) + "slabtone-err-" + unique;
    const HANDLE out = capture_file(out_path);
    const HANDLE err = capture_file(err_path);

    std::string command = quoted(program);
    for (const std::string& argument : arguments) command += " " + quoted(argument);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION child{};
    const BOOL started = ::CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE,
                                          0, nullptr, folder.c_str(), &startup, &child);
    ::CloseHandle(out);
    ::CloseHandle(err);
    if (!started) throw std::runtime_error("cannot start " + program);
    ::WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(child.hProcess, &code);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);

    ProgramResult result;
    result.exit_status = static_cast<int>(code);
    result.out = as_lines(read_file(out_path));
    result.err = as_lines(read_file(err_path));
    ::DeleteFileA(out_path.c_str());
    ::DeleteFileA(err_path.c_str());
    return result;
}

}  // namespace slabtone::test
