#include "atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

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

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

bool store_file_atomically(const std::string& name, std::span<const std::uint8_t> bytes) {
    const mode_t mode = creation_mode();
    std::string pattern = temporary_template(name);
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool stored = ::fchmod(fd, mode) == 0 && write_all(fd, bytes);
    stored = (::close(fd) == 0) && stored;
    stored = stored && ::rename(path.data(), name.c_str()) == 0;
    if (!stored) ::unlink(path.data());
    return stored;
}

}  // namespace slabtone
