// One slice's way from the 16-bit file to the finished 8-bit file in memory,
// in two stages: reading (independent of every other slice) and finishing
// (which needs the description record as the slices before left it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_buffer.hpp"
#include "command_line.hpp"
#include "description_record.hpp"
#include "gray_tiff.hpp"
#include "lac_window.hpp"

namespace slabtone {

std::string input_name(std::int64_t slice);   // "rec%04d.tif"
std::string output_name(std::int64_t slice);  // "ro%04d.tif"

struct ReadSlice {
    std::int64_t number = 0;
    std::string input_name;
    GraySlice gray;
    ParsedDescription description;  // no fields when the slice has no text
};

// Reads and decodes the slice and parses its description. Throws SliceError.
ReadSlice read_slice(std::int64_t number, ReaderBuffers& buffers);
// The same for the slice's file already in memory.
ReadSlice read_slice(std::int64_t number, const InputFile& file);

struct ConvertedSlice {
    std::string input_name;
    std::string output_name;
    ByteBuffer file;  // the complete 8-bit TIFF file
};

// Memory a worker keeps from one slice to the next.
struct ConversionBuffers {
    std::vector<std::uint8_t> bytes;  // the 8-bit samples
    ByteBuffer file;                  // memory for the next file, when there is some
    QuantisationTable table;
};

// Checks the calibration (of `record`, which already holds this slice's
// fields) and the crop rectangle, quantises, formats the output record and
// lays out the 8-bit file. Throws SliceError.
ConvertedSlice finish_slice(const ReadSlice& slice, const DescriptionRecord& record,
                            const RunParameters& run, ConversionBuffers& buffers);

// Slice 1 converted from a file in memory, as the first slice of a run.
ConvertedSlice convert_single_slice(const InputFile& file, const RunParameters& run);

}  // namespace slabtone
