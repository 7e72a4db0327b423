#include "platform/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>

namespace slabtone {

OpenOutcome open_for_reading(const std::string& path) {
    OpenOutcome outcome;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        outcome.out_of_handles = errno == EMFILE || errno == ENFILE;
        return outcome;
    }
    OpenedFile file;
    file.handle = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        file.kind = FileKind::other;
    } else if (S_ISREG(info.st_mode)) {
        file.kind = FileKind::regular;
        file.size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    } else if (S_ISBLK(info.st_mode)) {
        // A disk or partition: st_size is 0, its end is where seeking ends.
        const off_t end = ::lseek(fd, 0, SEEK_END);
        file.kind = end > 0 ? FileKind::block_device : FileKind::other;
        file.size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    } else if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        file.kind = FileKind::stream;
    }
    outcome.file = file;
    return outcome;
}

void close_file(int handle) noexcept {
    ::close(handle);
}

std::uint64_t read_file_at(int handle, std::uint8_t* out, std::uint64_t count,
                           std::uint64_t position) {
    std::uint64_t done = 0;
    while (done < count) {
        const std::uint64_t chunk = std::min<std::uint64_t>(count - done, std::uint64_t{1} << 30);
        if (position + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) break;
        const ssize_t got = ::pread(handle, out + done, chunk, static_cast<off_t>(position + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::uint64_t>(got);
    }
    return done;
}

std::uint64_t read_next(int handle, std::uint8_t* out, std::uint64_t count) {
    for (;;) {
        const ssize_t got = ::read(handle, out, count);
        if (got < 0 && errno == EINTR) continue;
        return got > 0 ? static_cast<std::uint64_t>(got) : 0;
    }
}

bool is_regular_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<FileIdentity> file_identity(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace slabtone
