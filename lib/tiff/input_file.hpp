// A slice file as the reader sees it: bytes read by position, where every
// byte at or past the end of the file reads as -1, as from a C stream that
// never tests for the end.
//
// A file on disk is read only where the image lies (its header, directory,
// description and strips), never whole: a slice file far larger than memory
// whose first image is small costs the memory of that image, and an endless
// device reads like any file. Small reads go through a cache of a few
// blocks. A file in memory (tests, fuzzers) is read in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "common/memory_pool.hpp"

namespace slabtone {

class InputFile {
  public:
    // Readable bytes kept after any range handed out by bytes_at, so that
    // bulk decoders may load whole words at any position inside it.
    static constexpr std::size_t kPadding = 16;

    InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    ~InputFile();

    // nullopt when the file cannot be opened for reading; DescriptorShortage
    // when the process has no descriptor left to open it. A file that
    // cannot be read where it is asked (a folder, a read error) ends there.
    // A pipe, which cannot be read by position, is read whole into memory;
    // throws MemoryShortage (cell memory) when it does not fit. Errors name
    // `file_name`.
    static std::optional<InputFile> open(const std::string& path, const std::string& file_name);
    static std::optional<InputFile> open(const std::string& path) { return open(path, path); }

    static InputFile from_bytes(const std::vector<std::uint8_t>& bytes);
    // The `size` bytes at `bytes`, read in place: they must be followed by
    // kPadding readable bytes and outlive the view.
    static InputFile view_of(const std::uint8_t* bytes, std::uint64_t size);

    // Whether the bytes are in memory (no read costs a call to the system).
    bool in_memory() const noexcept { return memory_ != nullptr; }

    // The byte at `position` (0 to 255), or -1 at or past the end.
    int byte_at(std::uint64_t position) const {
        if (memory_ != nullptr) return position < size_ ? memory_[position] : -1;
        if (position - recent_base_ < recent_length_) return recent_[position - recent_base_];
        return byte_on_disk(position);
    }

    // The file's size as known so far; the largest value for a device whose
    // end no read has found (holds() is then false).
    std::uint64_t size() const noexcept { return size_; }

    // True when every byte of [position, position + count) is in the file.
    bool holds(std::uint64_t position, std::uint64_t count) const;

    // Copies the bytes of [position, position + out.size()) that the file
    // holds into `out`: all of them, or fewer at the end of the file.
    std::uint64_t read(std::uint64_t position, std::span<std::uint8_t> out) const;

    // The bytes of [position, position + count), followed by kPadding
    // readable bytes: in place for a file in memory, otherwise read into
    // `scratch`. Null when the file does not hold them all, or when the
    // scratch cannot have the memory.
    const std::uint8_t* bytes_at(std::uint64_t position, std::uint64_t count,
                                 PooledBuffer& scratch) const;

  private:
    // Where the bytes are, in one of four ways.
    struct Borrowed {};  // the caller's bytes, read in place (view_of)
    struct Owned {       // a copy of the caller's bytes (from_bytes)
        std::vector<std::uint8_t> bytes;
    };
    struct PipeBytes {  // a pipe read whole: it cannot be read by position
        PooledBuffer bytes;
    };
    struct DiskBlocks;  // a file on disk, read by position through a few blocks
    using Storage = std::variant<Borrowed, Owned, PipeBytes, std::unique_ptr<DiskBlocks>>;

    DiskBlocks& disk() const noexcept { return *std::get<std::unique_ptr<DiskBlocks>>(storage_); }
    int byte_on_disk(std::uint64_t position) const;
    // Everything the pipe `fd` delivers, in memory; MemoryShortage (cell
    // memory) naming `file_name` when it does not fit.
    void read_whole_pipe(int fd, const std::string& file_name);

    Storage storage_;
    // The bytes of a file in memory (every way but DiskBlocks), followed by
    // kPadding readable bytes; null for a file on disk.
    const std::uint8_t* memory_ = nullptr;
    // The file's size; for a device of unknown size, the largest value until
    // a read finds the end.
    mutable std::uint64_t size_ = 0;
    // The block of the cache read last: the common case of byte_at.
    mutable const std::uint8_t* recent_ = nullptr;
    mutable std::uint64_t recent_base_ = 0;
    mutable std::uint64_t recent_length_ = 0;
};

// A read position in an InputFile. Reading at or past the end yields -1 and
// still advances; once past the end, every later read is past it too, so this
// matches a C stream whose position stops at the end.
class FileCursor {
  public:
    explicit FileCursor(const InputFile& file, std::uint64_t position = 0) noexcept
        : file_(&file), position_(position) {}

    int next() { return file_->byte_at(position_++); }
    void seek(std::uint64_t position) noexcept { position_ = position; }
    void skip(std::uint64_t count) noexcept { position_ += count; }
    std::uint64_t position() const noexcept { return position_; }
    const InputFile& file() const noexcept { return *file_; }

  private:
    const InputFile* file_;
    std::uint64_t position_;
};

}  // namespace slabtone
