#include "packbits_decoder.hpp"

#include "failure.hpp"

namespace slabtone {

void PackBitsDecoder::too_few_codes() const {
    fail(*file_name_, Failure::packbits_too_few_codes);
}

void PackBitsDecoder::too_many_codes() const {
    fail(*file_name_, Failure::packbits_too_many_codes);
}

}  // namespace slabtone
