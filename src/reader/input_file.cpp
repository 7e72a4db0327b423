#include "input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace slabtone {

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const noexcept { return fd_; }

  private:
    int fd_;
};

// Reads until the end of the file or the first error; what was read counts.
void read_all(int fd, std::vector<std::uint8_t>& bytes, std::size_t expected) {
    bytes.resize(expected > 0 ? expected : 1 << 16);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            // The file grew, or its size was unknown: read on in larger steps.
            bytes.resize(bytes.size() * 2);
        }
        ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
}

}  // namespace

std::optional<InputFile> InputFile::load(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    // A folder opens but cannot be read: it comes out as an empty file.
    struct stat info {};
    std::size_t expected = 0;
    if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        expected = static_cast<std::size_t>(info.st_size);
    }
    InputFile file;
    read_all(fd.get(), file.bytes_, expected);
    return file;
}

InputFile InputFile::from_bytes(std::vector<std::uint8_t> bytes) {
    InputFile file;
    file.bytes_ = std::move(bytes);
    return file;
}

}  // namespace slabtone
