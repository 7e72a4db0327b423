#include "tiff/packbits_decoder.hpp"

#include "common/failure.hpp"

namespace slabtone {

void PackBitsDecoder::too_few_codes() const {
    fail(*file_name_, Failure::packbits_too_few_codes);
}

void PackBitsDecoder::too_many_codes() const {
    fail(*file_name_, Failure::packbits_too_many_codes);
}

}  // namespace slabtone

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "tiff/bulk_decoders.hpp"

namespace slabtone {

void decode_packbits_strip(const std::uint8_t* strip, std::uint32_t byte_count,
                           std::uint64_t needed, std::uint8_t* out, const std::string& file_name) {
    std::uint32_t in = 0;
    std::uint64_t produced = 0;
    std::uint64_t unused = 0;  // bytes of the last run that were not asked for
    while (produced < needed) {
        if (in == byte_count) fail(file_name, Failure::packbits_too_few_codes);
        const unsigned header = strip[in++];
        if (header == 128) continue;
        if (header < 128) {
            const std::uint64_t run = header + 1;
            const std::uint64_t take = std::min(run, needed - produced);
            if (byte_count - in < take) fail(file_name, Failure::packbits_too_few_codes);
            std::memcpy(out + produced, strip + in, take);
            in += static_cast<std::uint32_t>(take);
            produced += take;
            unused = run - take;
        } else {
            const std::uint64_t run = 257 - header;
            if (in == byte_count) fail(file_name, Failure::packbits_too_few_codes);
            const std::uint64_t take = std::min(run, needed - produced);
            std::memset(out + produced, strip[in++], take);
            produced += take;
            unused = run - take;
        }
    }
    if (unused != 0 || in != byte_count) fail(file_name, Failure::packbits_too_many_codes);
}

}  // namespace slabtone
