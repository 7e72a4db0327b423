#include "input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace slabtone {

void InputFile::Release::operator()(std::uint8_t* storage) const noexcept {
    ::operator delete (storage, std::align_val_t{64});
}

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

}  // namespace

void InputFile::reserve(std::size_t bytes) {
    if (bytes + kPadding <= capacity_) return;
    // Not value-initialised: the read fills it. Plain storage (in which
    // 16-bit samples may be read in place) aligned for any scalar.
    std::unique_ptr<std::uint8_t[], Release> larger(
        static_cast<std::uint8_t*>(::operator new (bytes + kPadding, std::align_val_t{64})));
    if (size_ > 0) std::memcpy(larger.get(), storage_.get(), size_);
    storage_ = std::move(larger);
    capacity_ = bytes + kPadding;
}

std::optional<InputFile> InputFile::load(const std::string& path, InputFile recycled) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    struct stat info {};
    std::size_t expected = 0;
    if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        expected = static_cast<std::size_t>(info.st_size);
    }
    InputFile file = std::move(recycled);
    file.size_ = 0;
    // One byte more than expected, to see the end of the file in one read.
    file.reserve(std::max<std::size_t>(expected + 1, 4096));
    // Until the end of the file or the first error (a folder opens but cannot
    // be read: it comes out as an empty file); what was read counts.
    for (;;) {
        if (file.size_ + kPadding == file.capacity_) file.reserve(file.capacity_ * 2);
        ssize_t got = ::read(fd.get(), file.storage_.get() + file.size_,
                             file.capacity_ - kPadding - file.size_);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        file.size_ += static_cast<std::size_t>(got);
    }
    std::memset(file.storage_.get() + file.size_, 0, kPadding);
    return file;
}

std::optional<InputFile> InputFile::load(const std::string& path) {
    return load(path, InputFile());
}

InputFile InputFile::from_bytes(const std::vector<std::uint8_t>& bytes) {
    InputFile file;
    file.reserve(bytes.size());
    if (!bytes.empty()) std::memcpy(file.storage_.get(), bytes.data(), bytes.size());
    file.size_ = bytes.size();
    std::memset(file.storage_.get() + file.size_, 0, kPadding);
    return file;
}

}  // namespace slabtone
