// Files read by position: what the slice reader asks of the system. A file
// is a plain handle; what it is (a regular file, a disk, a pipe) decides
// how it may be read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace slabtone {

enum class FileKind {
    regular,       // read by position, its size known
    block_device,  // read by position up to where seeking ends
    stream,        // a pipe or a socket: read once, front to back
    other,         // a character device, a folder: read until a read comes short
};

struct OpenedFile {
    int handle = -1;
    FileKind kind = FileKind::other;
    std::uint64_t size = 0;  // for a regular file and a block device
};

struct OpenOutcome {
    std::optional<OpenedFile> file;  // nullopt when it cannot be opened
    bool out_of_handles = false;     // because the process may open no more files
};

OpenOutcome open_for_reading(const std::string& path);
void close_file(int handle) noexcept;

// Reads [position, position + count) until the end of the file or the first
// error; how many bytes it read.
std::uint64_t read_file_at(int handle, std::uint8_t* out, std::uint64_t count,
                           std::uint64_t position);

// The next bytes of a stream; 0 at its end or on an error.
std::uint64_t read_next(int handle, std::uint8_t* out, std::uint64_t count);

// Whether `path` names a regular file (following links), which can be read
// again after a first read. A pipe or a device may give its bytes only
// once, or other bytes the next time; false also when there is no such file.
bool is_regular_file(const std::string& path);

// What tells one existing file from every other, whatever path names it (a
// link, another spelling of its folder): the device and the file number.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t number = 0;

    bool operator==(const FileIdentity&) const = default;
};

// nullopt when there is no such file (or it cannot be looked at).
std::optional<FileIdentity> file_identity(const std::string& path);

}  // namespace slabtone
