// The fuzz harnesses, shared by the libFuzzer targets and by the test suite,
// which replays every input in fuzz/regressions through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/failure.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone::fuzz {

// How the reader ends on a file: its failure, or the samples (row after row)
// and the description it delivers.
struct DecodeOutcome {
    std::optional<Failure> failure;
    std::vector<std::uint16_t> samples;
    std::optional<std::string> description;

    bool operator==(const DecodeOutcome&) const = default;
};

DecodeOutcome decode_outcome(const InputFile& file, DecodePath path);

// The whole reader on arbitrary bytes: it must accept the file or stop
// with one of its messages.
void read_any_file(const std::uint8_t* data, std::size_t size);

// The open reader on arbitrary bytes: it must accept the file or stop with
// one of its messages; what it accepts is converted under a fixed window.
void read_any_open_file(const std::uint8_t* data, std::size_t size);

// One slice end to end (reader, record, crop, quantisation, 8-bit file in
// memory). The last 12 bytes, when there are more than 12, choose the crop
// rectangle and the window; the rest is the file.
void convert_any_file(const std::uint8_t* data, std::size_t size);

// The bulk decoders against the byte-at-a-time ones: both must give the
// same samples or the same message; aborts otherwise.
void compare_decode_paths(const std::uint8_t* data, std::size_t size);

// Largest single request the harnesses let the reader make, so that a file
// declaring a huge image ends in the allocation message within the fuzzer's
// memory limit.
inline constexpr std::uint64_t kFuzzMemoryBudget = std::uint64_t{256} << 20;

}  // namespace slabtone::fuzz
