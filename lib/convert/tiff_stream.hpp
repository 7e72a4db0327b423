// A TIFF handle that libtiff writes through a sink of ours: a buffer in
// memory (the finished file is then stored with a single write), or a file
// written through a descriptor with few, large writes. Both give libtiff
// the same view of a file, so both make the same bytes.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>

#include "common/memory_pool.hpp"
#include "convert/byte_buffer.hpp"

namespace slabtone {

class TiffSink {
  public:
    virtual ~TiffSink() = default;
    // Stores `count` bytes at `position`; a gap before them reads as zeros.
    // False when they cannot be stored.
    virtual bool write_at(std::uint64_t position, const std::uint8_t* bytes,
                          std::uint64_t count) = 0;
    // Copies up to `count` stored bytes from `position`; how many.
    virtual std::uint64_t read_at(std::uint64_t position, std::uint8_t* out,
                                  std::uint64_t count) = 0;
    virtual std::uint64_t size() const = 0;
};

// The file in memory.
//
// Bytes may be put in place before libtiff writes them: a range of the
// buffer is then "prefilled", and a write of exactly those bytes from
// exactly their place costs nothing. Any other write that touches the range
// clobbers it (clobbered() tells), so a caller relying on it can tell that
// the layout was not the one it expected.
class MemorySink : public TiffSink {
  public:
    explicit MemorySink(ByteBuffer bytes) : bytes_(std::move(bytes)) { bytes_.clear(); }
    bool write_at(std::uint64_t position, const std::uint8_t* bytes, std::uint64_t count) override;
    std::uint64_t read_at(std::uint64_t position, std::uint8_t* out, std::uint64_t count) override;
    std::uint64_t size() const override { return bytes_.size(); }
    ByteBuffer take() { return std::move(bytes_); }

    // Where bytes [position, position + count) of the file go, for the
    // caller to fill in place; null when the buffer's capacity does not
    // hold them.
    std::uint8_t* prefill(std::uint64_t position, std::uint64_t count);
    bool clobbered() const noexcept { return clobbered_; }

  private:
    ByteBuffer bytes_;
    std::uint64_t prefilled_begin_ = 0;
    std::uint64_t prefilled_end_ = 0;
    bool clobbered_ = false;
};

// A new, empty file. Consecutive writes are gathered into one.
class FileSink : public TiffSink {
  public:
    explicit FileSink(int fd) : fd_(fd) {}
    bool write_at(std::uint64_t position, const std::uint8_t* bytes, std::uint64_t count) override;
    std::uint64_t read_at(std::uint64_t position, std::uint8_t* out, std::uint64_t count) override;
    std::uint64_t size() const override { return size_; }
    // Writes what is gathered; false when that or an earlier write failed.
    bool flush();

  private:
    static constexpr std::size_t kGathered = std::size_t{256} << 10;
    int fd_;
    std::uint64_t size_ = 0;
    bool failed_ = false;
    std::unique_ptr<std::uint8_t[]> gathered_;
    std::uint64_t gathered_at_ = 0;  // file position of gathered_[0]
    std::size_t gathered_count_ = 0;
};

struct TiffStream {
    explicit TiffStream(TiffSink& s) : sink(&s) {}
    TiffSink* sink;
    std::uint64_t position = 0;
    bool failed = false;  // a write that could not be stored
};

struct TiffCloser {
    void operator()(TIFF* tiff) const noexcept;
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Opens `stream` with `mode` ("w" to write a new file); null on failure.
TiffHandle open_tiff_stream(const std::string& name, const char* mode, TiffStream& stream);

}  // namespace slabtone
