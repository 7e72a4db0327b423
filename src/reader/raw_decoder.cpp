#include "raw_decoder.hpp"

#include "failure.hpp"

namespace slabtone {

void RawDecoder::too_few_codes() const {
    fail(*file_name_, Failure::raw_too_few_codes);
}

void RawDecoder::too_many_codes() const {
    fail(*file_name_, Failure::raw_too_many_codes);
}

}  // namespace slabtone
