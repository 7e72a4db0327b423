// A slice file held whole in memory, read with the semantics of a C stream
// that never checks for the end of the file: every byte at or past the end
// reads as -1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace slabtone {

class InputFile {
  public:
    // Zero bytes kept after the end of the file, so that bulk decoders may
    // load whole words at any position inside it.
    static constexpr std::size_t kPadding = 16;

    InputFile() = default;
    // A moved-from file is empty and holds no memory.
    InputFile(InputFile&& other) noexcept { *this = std::move(other); }
    InputFile& operator=(InputFile&& other) noexcept {
        storage_ = std::move(other.storage_);
        capacity_ = std::exchange(other.capacity_, 0);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    // nullopt when the file cannot be opened for reading. A file whose
    // contents cannot be read (a folder, a read error) counts as ending where
    // the reading stopped. The memory of `recycled` is reused when it is
    // large enough. Throws std::bad_alloc when the file does not fit in
    // memory.
    static std::optional<InputFile> load(const std::string& path, InputFile recycled);
    static std::optional<InputFile> load(const std::string& path);
    static InputFile from_bytes(const std::vector<std::uint8_t>& bytes);

    std::uint64_t size() const noexcept { return size_; }
    std::span<const std::uint8_t> bytes() const noexcept { return {storage_.get(), size_}; }
    // The bytes from `position` on; kPadding readable bytes follow the end.
    const std::uint8_t* at(std::uint64_t position) const noexcept {
        return storage_.get() + position;
    }

    // The byte at `position` (0 to 255), or -1 at or past the end.
    int byte_at(std::uint64_t position) const noexcept {
        return position < size_ ? storage_[position] : -1;
    }

    // True when every byte of [position, position + count) is in the file.
    bool holds(std::uint64_t position, std::uint64_t count) const noexcept {
        return position <= size_ && count <= size_ - position;
    }

  private:
    void reserve(std::size_t bytes);

    struct Release {
        void operator()(std::uint8_t* storage) const noexcept;
    };
    std::unique_ptr<std::uint8_t[], Release> storage_;
    std::size_t capacity_ = 0;  // bytes of storage_, padding included
    std::size_t size_ = 0;
};

// A read position in an InputFile. Reading at or past the end yields -1 and
// still advances; once past the end, every later read is past it too, so this
// matches a C stream whose position stops at the end.
class FileCursor {
  public:
    explicit FileCursor(const InputFile& file, std::uint64_t position = 0) noexcept
        : file_(&file), position_(position) {}

    int next() noexcept { return file_->byte_at(position_++); }
    void seek(std::uint64_t position) noexcept { position_ = position; }
    void skip(std::uint64_t count) noexcept { position_ += count; }
    std::uint64_t position() const noexcept { return position_; }
    const InputFile& file() const noexcept { return *file_; }

  private:
    const InputFile* file_;
    std::uint64_t position_;
};

}  // namespace slabtone
