// A slice file held whole in memory, read with the semantics of a C stream
// that never checks for the end of the file: every byte at or past the end
// reads as -1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace slabtone {

class InputFile {
  public:
    // nullopt when the file cannot be opened for reading. A file whose
    // contents cannot be read (a folder, a read error) counts as ending where
    // the reading stopped.
    static std::optional<InputFile> load(const std::string& path);
    static InputFile from_bytes(std::vector<std::uint8_t> bytes);

    std::uint64_t size() const noexcept { return bytes_.size(); }
    std::span<const std::uint8_t> bytes() const noexcept { return bytes_; }

    // The byte at `position` (0 to 255), or -1 at or past the end.
    int byte_at(std::uint64_t position) const noexcept {
        return position < bytes_.size() ? bytes_[position] : -1;
    }

    // True when every byte of [position, position + count) is in the file.
    bool holds(std::uint64_t position, std::uint64_t count) const noexcept {
        return position <= bytes_.size() && count <= bytes_.size() - position;
    }

  private:
    std::vector<std::uint8_t> bytes_;
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
