// libFuzzer target; the harness is shared with the test suite.
#include <cstddef>
#include <cstdint>

#include "fuzz/harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    slabtone::fuzz::read_any_open_file(data, size);
    return 0;
}
