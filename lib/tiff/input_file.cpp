#include "tiff/input_file.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "common/failure.hpp"
#include "platform/files.hpp"

namespace slabtone {

namespace {

constexpr std::uint64_t kUnknownSize = std::numeric_limits<std::uint64_t>::max();

// The large blocks of the file this thread read last, kept for the next
// one: a run reads thousands of files.
thread_local std::unique_ptr<std::uint8_t[]> t_spare_blocks;

}  // namespace

namespace {

// A descriptor, closed when it goes.
class Descriptor {
  public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) close_file(fd_);
    }
    int fd() const noexcept { return fd_; }

  private:
    int fd_;
};

}  // namespace

struct InputFile::DiskBlocks {
    static constexpr std::uint64_t kBlockSize = 32768;
    static constexpr std::uint64_t kSmallBlockSize = 256;
    static constexpr std::size_t kBlocks = 4;

    explicit DiskBlocks(Descriptor descriptor) : file(std::move(descriptor)) {}
    DiskBlocks(const DiskBlocks&) = delete;
    DiskBlocks& operator=(const DiskBlocks&) = delete;
    ~DiskBlocks() {
        if (large && !t_spare_blocks) t_spare_blocks = std::move(large);
    }

    // Where the blocks go: large ones, or small ones kept here when memory
    // is too short for the large.
    std::uint8_t* block_storage() {
        if (block_size == 0) {
            large = std::move(t_spare_blocks);
            if (!large) large.reset(new (std::nothrow) std::uint8_t[kBlocks * kBlockSize]);
            block_size = large ? kBlockSize : kSmallBlockSize;
        }
        return large ? large.get() : small.data();
    }

    Descriptor file;
    // Blocks of the file, each starting at a multiple of block_size.
    std::uint64_t block_size = 0;  // 0: none read yet
    std::unique_ptr<std::uint8_t[]> large;
    std::array<std::uint8_t, kBlocks * kSmallBlockSize> small{};
    std::array<std::uint64_t, kBlocks> base{};
    std::array<std::uint64_t, kBlocks> length{};
    std::array<bool, kBlocks> filled{};
    std::size_t next_to_replace = 0;
};

InputFile::InputFile() = default;
InputFile::~InputFile() = default;

InputFile::InputFile(InputFile&& other) noexcept {
    *this = std::move(other);
}

// The bytes of every way but DiskBlocks live on the heap: moving them
// leaves memory_ pointing where it did.
InputFile& InputFile::operator=(InputFile&& other) noexcept {
    storage_ = std::exchange(other.storage_, Borrowed{});
    memory_ = std::exchange(other.memory_, nullptr);
    size_ = std::exchange(other.size_, 0);
    recent_ = std::exchange(other.recent_, nullptr);
    recent_base_ = std::exchange(other.recent_base_, 0);
    recent_length_ = std::exchange(other.recent_length_, 0);
    return *this;
}

InputFile InputFile::from_bytes(const std::vector<std::uint8_t>& bytes) {
    Owned owned;
    owned.bytes.reserve(bytes.size() + kPadding);
    owned.bytes = bytes;
    owned.bytes.resize(bytes.size() + kPadding, 0);
    InputFile file;
    file.memory_ = owned.bytes.data();
    file.size_ = bytes.size();
    file.storage_ = std::move(owned);
    return file;
}

InputFile InputFile::view_of(const std::uint8_t* bytes, std::uint64_t size) {
    InputFile file;
    file.memory_ = bytes;
    file.size_ = size;
    return file;
}

std::optional<InputFile> InputFile::open(const std::string& path, const std::string& file_name) {
    const OpenOutcome opened = open_for_reading(path);
    if (!opened.file) {
        // Out of descriptors is no property of the file: other slices may
        // hold them.
        if (opened.out_of_handles) throw DescriptorShortage(file_name, Failure::file_not_found);
        return std::nullopt;
    }
    Descriptor descriptor(opened.file->handle);
    InputFile file;
    switch (opened.file->kind) {
        case FileKind::regular:
        case FileKind::block_device:
            file.size_ = opened.file->size;
            break;
        case FileKind::other:
            // A character device or a folder: read by position until a
            // read comes short.
            file.size_ = kUnknownSize;
            break;
        case FileKind::stream:
            file.read_whole_pipe(descriptor.fd(), file_name);
            return file;
    }
    file.storage_ = std::make_unique<DiskBlocks>(std::move(descriptor));
    return file;
}

void InputFile::read_whole_pipe(int fd, const std::string& file_name) {
    PipeBytes pipe;
    PooledBuffer& bytes = pipe.bytes;
    std::uint64_t size = 0;
    for (;;) {
        if (size + kPadding + 65536 > bytes.capacity() &&
            !bytes.reserve(std::max<std::size_t>(bytes.capacity() * 2, 1 << 20), size)) {
            fail_for_memory(file_name, Failure::cell_allocation);
        }
        const std::uint64_t got =
            read_next(fd, bytes.data() + size, bytes.capacity() - kPadding - size);
        if (got == 0) break;
        size += got;
    }
    std::memset(bytes.data() + size, 0, kPadding);
    memory_ = bytes.data();
    size_ = size;
    storage_ = std::move(pipe);
}

int InputFile::byte_on_disk(std::uint64_t position) const {
    if (position >= size_) return -1;
    DiskBlocks& disk = this->disk();
    std::uint8_t* const storage = disk.block_storage();
    const std::uint64_t block_size = disk.block_size;
    const std::uint64_t base = position - position % block_size;
    std::size_t slot = DiskBlocks::kBlocks;
    for (std::size_t i = 0; i < DiskBlocks::kBlocks; ++i) {
        if (disk.filled[i] && disk.base[i] == base) slot = i;
    }
    if (slot == DiskBlocks::kBlocks) {
        slot = disk.next_to_replace;
        disk.next_to_replace = (slot + 1) % DiskBlocks::kBlocks;
        std::uint8_t* block = storage + slot * block_size;
        const std::uint64_t wanted = std::min(block_size, size_ - base);
        const std::uint64_t got = read_file_at(disk.file.fd(), block, wanted, base);
        // A short read is the end of the file, wherever fstat put it.
        if (got < wanted) size_ = base + got;
        disk.base[slot] = base;
        disk.length[slot] = got;
        disk.filled[slot] = true;
    }
    recent_ = storage + slot * block_size;
    recent_base_ = disk.base[slot];
    recent_length_ = disk.length[slot];
    return position - recent_base_ < recent_length_ ? recent_[position - recent_base_] : -1;
}

bool InputFile::holds(std::uint64_t position, std::uint64_t count) const {
    // A device of unknown size is read byte by byte, to its end.
    if (size_ == kUnknownSize) return false;
    return position <= size_ && count <= size_ - position;
}

std::uint64_t InputFile::read(std::uint64_t position, std::span<std::uint8_t> out) const {
    if (position >= size_) return 0;
    const std::uint64_t count = std::min<std::uint64_t>(out.size(), size_ - position);
    if (memory_ != nullptr) {
        if (count > 0) std::memcpy(out.data(), memory_ + position, count);
        return count;
    }
    const std::uint64_t got = read_file_at(disk().file.fd(), out.data(), count, position);
    if (got < count) size_ = position + got;
    return got;
}

const std::uint8_t* InputFile::bytes_at(std::uint64_t position, std::uint64_t count,
                                        PooledBuffer& scratch) const {
    if (!holds(position, count)) return nullptr;
    if (memory_ != nullptr) return memory_ + position;
    if (count > std::numeric_limits<std::size_t>::max() - kPadding ||
        !scratch.reserve(static_cast<std::size_t>(count) + kPadding)) {
        return nullptr;
    }
    if (read(position, {scratch.data(), static_cast<std::size_t>(count)}) < count) return nullptr;
    std::memset(scratch.data() + count, 0, kPadding);
    return scratch.data();
}

}  // namespace slabtone
