#include "platform/atomic_file.hpp"

#include "slabtone/slabtone.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace slabtone {

namespace {

mode_t creation_mode() {
    // umask can only be read by setting it; done once, before any thread.
    static const mode_t mode = [] {
        mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

std::string temporary_template(const std::string& name) {
    auto slash = name.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    return folder + "." + base + ".XXXXXX";
}

// The temporary file being written, for the signal handlers: a fixed buffer,
// since a handler may not allocate, and a flag that says it holds a name.
// Only one file is stored at a time.
char g_temporary[4096];
std::atomic<bool> g_temporary_active{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void remove_temporary_and_end(int signal_number) {
    if (g_temporary_active.load(std::memory_order_acquire)) ::unlink(g_temporary);
    // End as the signal would have ended the process.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Creates the temporary file from `pattern` in g_temporary, so that a
// signal from here on removes it. -1 when it cannot be created.
int create_temporary(const std::string& pattern) {
    if (pattern.size() >= sizeof g_temporary) return -1;
    std::memcpy(g_temporary, pattern.c_str(), pattern.size() + 1);
    g_temporary_active.store(true, std::memory_order_release);
    const int fd = ::mkstemp(g_temporary);
    if (fd < 0) {
        g_temporary_active.store(false, std::memory_order_release);
        return fd;
    }
    // Not passed on to programs a test or a user's process starts.
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

// Held by the one AtomicFile that exists.
std::mutex& one_file_at_a_time() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

// SIGINT, SIGTERM and SIGHUP remove the temporary file before the process
// ends (unless the signal is ignored, as under nohup).
void remove_temporary_file_on_interrupt() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old {};
            if (::sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
                continue;
            }
            struct sigaction action {};
            action.sa_handler = remove_temporary_and_end;
            sigemptyset(&action.sa_mask);
            ::sigaction(signal_number, &action, nullptr);
        }
    });
}

void let_writes_fail_past_size_limit() noexcept {
    std::signal(SIGXFSZ, SIG_IGN);
}

bool write_all_at(int fd, std::uint64_t position, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written =
            ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(position));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
        position += static_cast<std::uint64_t>(written);
    }
    return true;
}

AtomicFile::AtomicFile(const std::string& name)
    : one_at_a_time_(one_file_at_a_time()), name_(name) {
    const mode_t mode = creation_mode();
    fd_ = create_temporary(temporary_template(name));
    if (fd_ >= 0 && ::fchmod(fd_, mode) != 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(g_temporary);
        g_temporary_active.store(false, std::memory_order_release);
    }
}

AtomicFile::~AtomicFile() {
    if (done_ || fd_ < 0) return;
    ::close(fd_);
    ::unlink(g_temporary);
    g_temporary_active.store(false, std::memory_order_release);
}

bool AtomicFile::commit() {
    if (fd_ < 0 || done_) return false;
    done_ = true;
    bool stored = ::close(fd_) == 0;
    stored = stored && ::rename(g_temporary, name_.c_str()) == 0;
    if (!stored) ::unlink(g_temporary);
    g_temporary_active.store(false, std::memory_order_release);
    return stored;
}

}  // namespace slabtone
