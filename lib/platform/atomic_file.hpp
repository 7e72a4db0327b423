// Stores a file so that its name never shows an incomplete file: the bytes go
// to a temporary file in the same folder, which is renamed onto the name once
// written and closed. An earlier file of that name stays untouched until the
// rename replaces it whole.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>

namespace slabtone {

// The temporary file of one name, written through its descriptor (a handle
// on Windows). The new file gets the permissions of a plainly created file:
// 0666 less the umask on POSIX systems, what the folder passes on on
// Windows. Once remove_temporary_file_on_interrupt (the public header) has
// been called, what interrupts the process removes the temporary file
// before it ends: SIGINT, SIGTERM and SIGHUP on POSIX systems; Ctrl+C,
// Ctrl+Break and closing the console on Windows. One exists at a time: a
// second waits for the first.
class AtomicFile {
  public:
    explicit AtomicFile(const std::string& name);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~AtomicFile();

    // The descriptor to write to; -1 when the temporary file could not be
    // created.
    int fd() const noexcept { return fd_; }

    // Closes the temporary file and renames it onto the name; false, with
    // the temporary file removed, when any of that fails.
    bool commit();

  private:
    std::unique_lock<std::mutex> one_at_a_time_;
    std::string name_;
    int fd_ = -1;
    bool done_ = false;
};

// The whole file in one go; false when it could not be stored.
bool store_file_atomically(const std::string& name, std::span<const std::uint8_t> bytes);

// Writes all of `bytes` at `position`; false on a failed write.
bool write_all_at(int fd, std::uint64_t position, std::span<const std::uint8_t> bytes);

}  // namespace slabtone
