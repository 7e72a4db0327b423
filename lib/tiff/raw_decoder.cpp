#include "tiff/raw_decoder.hpp"

#include <cstdint>

#include "common/failure.hpp"

namespace slabtone {

void RawDecoder::too_few_codes() const {
    fail(*file_name_, Failure::raw_too_few_codes);
}

void RawDecoder::too_many_codes() const {
    fail(*file_name_, Failure::raw_too_many_codes);
}

}  // namespace slabtone

#include "tiff/bulk_decoders.hpp"

namespace slabtone {

void check_raw_strip(std::uint32_t byte_count, std::uint64_t needed, const std::string& file_name) {
    if (byte_count < needed) fail(file_name, Failure::raw_too_few_codes);
    if (byte_count > needed) fail(file_name, Failure::raw_too_many_codes);
}

}  // namespace slabtone
