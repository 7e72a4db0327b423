// Runs the reader on bytes in memory and reports how it ended.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/failure.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone {
// Test failures name a reader failure by its message.
inline void PrintTo(Failure failure, std::ostream* os) {
    *os << '"' << failure_text(failure) << '"';
}
}  // namespace slabtone

namespace slabtone::test {

inline const std::string kProbeName = "probe.tif";

// The failure the reader stops with, or nullopt when it accepts the file.
inline std::optional<Failure> reader_failure(const std::vector<std::uint8_t>& bytes,
                                             ReadRequest request = {}) {
    try {
        read_gray_tiff(InputFile::from_bytes(bytes), kProbeName, request);
    } catch (const SliceError& error) {
        return *failure_of(error);
    }
    return std::nullopt;
}

// The samples of a table, row after row.
inline std::vector<std::uint16_t> samples_of(const RowTable& rows) {
    std::vector<std::uint16_t> samples;
    for (std::uint32_t r = 0; r < rows.height(); ++r) {
        samples.insert(samples.end(), rows.row(r), rows.row(r) + rows.width());
    }
    return samples;
}

// The samples of an accepted file, row after row.
inline std::vector<std::uint16_t> read_samples(const std::vector<std::uint8_t>& bytes) {
    return samples_of(read_gray_tiff(InputFile::from_bytes(bytes), kProbeName).rows);
}

}  // namespace slabtone::test
