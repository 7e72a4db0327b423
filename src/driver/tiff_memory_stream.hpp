// A TIFF handle whose file lives in memory: libtiff writes into a growing
// buffer, so the finished file can be stored with a single write.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>

#include "byte_buffer.hpp"

namespace slabtone {

struct TiffMemoryStream {
    ByteBuffer bytes;
    std::uint64_t position = 0;
    bool failed = false;  // a write that could not be stored
};

struct TiffCloser {
    void operator()(TIFF* tiff) const noexcept;
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Opens `stream` with `mode` ("w" to write a new file); null on failure.
TiffHandle open_tiff_stream(const std::string& name, const char* mode, TiffMemoryStream& stream);

}  // namespace slabtone
