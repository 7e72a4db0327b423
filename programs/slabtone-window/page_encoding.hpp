// How the window page carries the stack's numbers: base64 of little-endian
// samples and of varint-coded counts, reals with enough digits to read back
// exactly, and text escaped for a JSON string inside an HTML script block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "slabtone/measurement.hpp"

namespace slabtone {

// RFC 4648 base64, padded.
void append_base64(std::string& out, std::span<const std::uint8_t> bytes);

// An unsigned number in 7-bit groups, lowest first, the high bit set on
// every group but the last.
void put_varint(std::vector<std::uint8_t>& out, std::uint64_t value);

// The nonzero bins of a count as (step from the previous value, count)
// varint pairs, in base64.
void append_bins(std::string& out, const SampleCounts::Counts& counts);

// 16-bit samples, little-endian, in base64.
void append_samples(std::string& out, const std::vector<std::uint16_t>& samples);

// 32-bit floats, little-endian, in base64.
void append_float_samples(std::string& out, const std::vector<float>& values);

// A double with enough digits to read back exactly ("%.17g"); "inf" and
// "nan" as the C library writes them.
std::string exact_number(double value);

// Text as a JSON string that is safe inside an HTML script block: quotes,
// backslashes, control characters, '<', '>', '&' and every byte above 127
// (read as Latin-1) are escaped.
std::string json_string(std::string_view text);

}  // namespace slabtone
