#include "tiff/deflate_decoder.hpp"

#include <libdeflate.h>

#include <cstddef>
#include <limits>

#include "common/failure.hpp"

namespace slabtone {

DeflateDecoder::DeflateDecoder() = default;

DeflateDecoder::~DeflateDecoder() {
    if (decompressor_ != nullptr) libdeflate_free_decompressor(decompressor_);
}

void DeflateDecoder::decode(const std::uint8_t* strip, std::uint64_t byte_count,
                            std::uint64_t needed, std::uint8_t* out, const std::string& file_name) {
    if (decompressor_ == nullptr) {
        decompressor_ = libdeflate_alloc_decompressor();
        if (decompressor_ == nullptr) fail_for_memory(file_name, Failure::cell_allocation);
    }
    if (byte_count > std::numeric_limits<std::size_t>::max() ||
        needed > std::numeric_limits<std::size_t>::max()) {
        fail(file_name, Failure::deflate_data_error);
    }
    std::size_t inflated = 0;
    switch (libdeflate_zlib_decompress(decompressor_, strip, static_cast<std::size_t>(byte_count),
                                       out, static_cast<std::size_t>(needed), &inflated)) {
        case LIBDEFLATE_SUCCESS:
            if (inflated < needed) fail(file_name, Failure::deflate_too_few_codes);
            return;
        case LIBDEFLATE_INSUFFICIENT_SPACE:
            fail(file_name, Failure::deflate_too_many_codes);
        default:  // LIBDEFLATE_BAD_DATA, and a stream cut short
            fail(file_name, Failure::deflate_data_error);
    }
}

}  // namespace slabtone
