#include "tiff_memory_stream.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace slabtone {

namespace {

TiffMemoryStream& stream_of(thandle_t handle) {
    return *static_cast<TiffMemoryStream*>(handle);
}

tmsize_t read_proc(thandle_t handle, void* buffer, tmsize_t size) {
    TiffMemoryStream& stream = stream_of(handle);
    if (size <= 0 || stream.position >= stream.bytes.size()) return 0;
    auto count = std::min<std::uint64_t>(static_cast<std::uint64_t>(size),
                                         stream.bytes.size() - stream.position);
    std::memcpy(buffer, stream.bytes.data() + stream.position, count);
    stream.position += count;
    return static_cast<tmsize_t>(count);
}

// Called from C: must not throw.
tmsize_t write_proc(thandle_t handle, void* buffer, tmsize_t size) {
    TiffMemoryStream& stream = stream_of(handle);
    if (size < 0) return -1;
    auto count = static_cast<std::uint64_t>(size);
    std::uint64_t end = stream.position + count;
    const std::uint64_t old_size = stream.bytes.size();
    if (end > old_size) {
        if (!stream.bytes.resize(end)) {
            stream.failed = true;
            return -1;
        }
        // A gap left by seeking past the end reads as zeros.
        if (stream.position > old_size) {
            std::memset(stream.bytes.data() + old_size, 0, stream.position - old_size);
        }
    }
    if (count != 0) std::memcpy(stream.bytes.data() + stream.position, buffer, count);
    stream.position = end;
    return size;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
    TiffMemoryStream& stream = stream_of(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = stream.position;
    if (whence == SEEK_END) base = stream.bytes.size();
    std::uint64_t target = base + offset;
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
    return stream_of(handle).bytes.size();
}

int map_proc(thandle_t, void**, toff_t*) {
    return 0;
}

void unmap_proc(thandle_t, void*, toff_t) {}

}  // namespace

void TiffCloser::operator()(TIFF* tiff) const noexcept {
    TIFFClose(tiff);
}

TiffHandle open_tiff_stream(const std::string& name, const char* mode, TiffMemoryStream& stream) {
    return TiffHandle(TIFFClientOpen(name.c_str(), mode, &stream, read_proc, write_proc, seek_proc,
                                     close_proc, size_proc, map_proc, unmap_proc));
}

}  // namespace slabtone
