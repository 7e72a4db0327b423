#include "convert/tiff_stream.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "platform/atomic_file.hpp"
#include "platform/files.hpp"

namespace slabtone {

std::uint8_t* MemorySink::prefill(std::uint64_t position, std::uint64_t count) {
    if (position > bytes_.capacity() || count > bytes_.capacity() - position) return nullptr;
    prefilled_begin_ = position;
    prefilled_end_ = position + count;
    return bytes_.data() + position;
}

bool MemorySink::write_at(std::uint64_t position, const std::uint8_t* bytes, std::uint64_t count) {
    const std::uint64_t end = position + count;
    const std::uint64_t old_size = bytes_.size();
    // Bytes already in their place: nothing to copy, and nothing to clear
    // before them (growing within the capacity keeps what is there).
    const bool in_place = count != 0 && bytes == bytes_.data() + position &&
                          position >= prefilled_begin_ && end <= prefilled_end_;
    if (!in_place && count != 0 && position < prefilled_end_ && end > prefilled_begin_) {
        clobbered_ = true;
    }
    if (end > old_size) {
        if (end > std::numeric_limits<std::size_t>::max() ||
            !bytes_.resize(static_cast<std::size_t>(end))) {
            return false;
        }
        // A gap left by seeking past the end reads as zeros: over prefilled
        // bytes, the layout is not the one they were put in place for.
        if (position > old_size) {
            if (old_size < prefilled_end_ && position > prefilled_begin_) clobbered_ = true;
            std::memset(bytes_.data() + old_size, 0, position - old_size);
        }
    }
    if (count != 0 && !in_place) std::memmove(bytes_.data() + position, bytes, count);
    return true;
}

std::uint64_t MemorySink::read_at(std::uint64_t position, std::uint8_t* out, std::uint64_t count) {
    if (position >= bytes_.size()) return 0;
    count = std::min<std::uint64_t>(count, bytes_.size() - position);
    std::memcpy(out, bytes_.data() + position, count);
    return count;
}

bool FileSink::write_at(std::uint64_t position, const std::uint8_t* bytes, std::uint64_t count) {
    if (failed_) return false;
    size_ = std::max(size_, position + count);
    const bool follows = gathered_count_ > 0 && position == gathered_at_ + gathered_count_;
    if (!follows || gathered_count_ + count > kGathered) {
        if (!flush()) return false;
        gathered_at_ = position;
    }
    if (count >= kGathered) {
        // A hole before `position`, if any, reads as zeros.
        failed_ = !write_all_at(fd_, position, {bytes, static_cast<std::size_t>(count)});
        return !failed_;
    }
    if (!gathered_) gathered_.reset(new (std::nothrow) std::uint8_t[kGathered]);
    if (!gathered_) {
        failed_ = !write_all_at(fd_, position, {bytes, static_cast<std::size_t>(count)});
        return !failed_;
    }
    std::memcpy(gathered_.get() + gathered_count_, bytes, count);
    gathered_count_ += static_cast<std::size_t>(count);
    return true;
}

bool FileSink::flush() {
    if (gathered_count_ > 0 && !failed_) {
        failed_ = !write_all_at(fd_, gathered_at_, {gathered_.get(), gathered_count_});
    }
    gathered_count_ = 0;
    return !failed_;
}

std::uint64_t FileSink::read_at(std::uint64_t position, std::uint8_t* out, std::uint64_t count) {
    if (!flush() || position >= size_) return 0;
    count = std::min<std::uint64_t>(count, size_ - position);
    return read_file_at(fd_, out, count, position);
}

namespace {

TiffStream& stream_of(thandle_t handle) {
    return *static_cast<TiffStream*>(handle);
}

tmsize_t read_proc(thandle_t handle, void* buffer, tmsize_t size) {
    TiffStream& stream = stream_of(handle);
    if (size <= 0) return 0;
    const std::uint64_t got = stream.sink->read_at(
        stream.position, static_cast<std::uint8_t*>(buffer), static_cast<std::uint64_t>(size));
    stream.position += got;
    return static_cast<tmsize_t>(got);
}

// Called from C: must not throw.
tmsize_t write_proc(thandle_t handle, void* buffer, tmsize_t size) {
    TiffStream& stream = stream_of(handle);
    if (size < 0) return -1;
    const auto count = static_cast<std::uint64_t>(size);
    if (!stream.sink->write_at(stream.position, static_cast<const std::uint8_t*>(buffer), count)) {
        stream.failed = true;
        return -1;
    }
    stream.position += count;
    return size;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
    TiffStream& stream = stream_of(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = stream.position;
    if (whence == SEEK_END) base = stream.sink->size();
    const std::uint64_t target = base + offset;
    if (target > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<toff_t>(-1);
    }
    // Seeking past the end leaves a gap that reads as zeros once written.
    stream.position = target;
    return target;
}

int close_proc(thandle_t) {
    return 0;
}

toff_t size_proc(thandle_t handle) {
    return stream_of(handle).sink->size();
}

int map_proc(thandle_t, void**, toff_t*) {
    return 0;
}

void unmap_proc(thandle_t, void*, toff_t) {}

}  // namespace

void TiffCloser::operator()(TIFF* tiff) const noexcept {
    TIFFClose(tiff);
}

TiffHandle open_tiff_stream(const std::string& name, const char* mode, TiffStream& stream) {
    return TiffHandle(TIFFClientOpen(name.c_str(), mode, &stream, read_proc, write_proc, seek_proc,
                                     close_proc, size_proc, map_proc, unmap_proc));
}

}  // namespace slabtone
