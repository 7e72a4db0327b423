// Small 16-bit slices for whole-program tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testkit/tiff_builder.hpp"

namespace slabtone::test {

// The worked example of the conversion: LACmin 0, LACmax 2, lac_scale 1000,
// lac_offset -0.5.
inline const std::string kExampleRecord = "12\t0.0025\t1000\t-0.5\t3.25\t800\t0.1\t2";
inline const std::string kExampleOutputRecord =
    "12\t0.002500\t127.500000\t0.000000\t3.250000\t800\t0.100000\t2.000000";
inline const std::vector<std::uint16_t> kExampleSamples = {0, 1001, 1500, 1999, 2500, 65535};
inline const std::vector<std::uint8_t> kExampleBytes = {0, 63, 127, 191, 255, 255};

// An uncompressed 16-bit little-endian slice of `width` x (samples / width).
inline std::vector<std::uint8_t> slice_of(const std::vector<std::uint16_t>& samples,
                                          std::uint32_t width, const std::string& description) {
    SliceLayout layout;
    layout.width = width;
    layout.height = std::uint32_t(samples.size() / width);
    layout.bits = 16;
    layout.description = description;
    std::vector<std::uint8_t> strip;
    for (auto v : samples) {
        strip.push_back(std::uint8_t(v & 0xFF));
        strip.push_back(std::uint8_t(v >> 8));
    }
    layout.strips = {strip};
    return build_slice(layout);
}

}  // namespace slabtone::test
