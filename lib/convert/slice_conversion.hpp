// One slice's way from the 16-bit file to the finished 8-bit file in memory,
// in two stages: reading (independent of every other slice) and finishing
// (which needs the description record as the slices before left it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/byte_buffer.hpp"
#include "convert/description_record.hpp"
#include "convert/lac_window.hpp"
#include "convert/run_parameters.hpp"
#include "convert/stack_folder.hpp"
#include "slabtone/slabtone.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone {

struct ReadSlice {
    std::int64_t number = 0;
    std::string input_name;
    std::string output_name;
    GraySlice gray;
    ParsedDescription description;  // no fields when the slice has no text
};

// Reads and decodes the slice and parses its description. Throws SliceError.
ReadSlice read_slice(const StackFolder& folder, std::int64_t number, ReaderBuffers& buffers);
// The same for the slice's file already in memory.
ReadSlice read_slice(std::int64_t number, const InputFile& file);

struct ConvertedSlice {
    std::string input_name;
    std::string output_name;
    SampleKind kind = SampleKind::unsigned_int;
    // The complete 8-bit TIFF file, when the memory for it was there;
    // otherwise empty, and libtiff lays the 8-bit samples out straight into
    // the file when it is stored.
    ByteBuffer file;
    ByteBuffer bytes;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string description;
};

// Memory a worker keeps from one slice to the next.
struct ConversionBuffers {
    ByteBuffer bytes;  // the 8-bit samples
    ByteBuffer file;   // memory for the next file, when there is some
    QuantisationTable table;
};

// What calibrates a slice's samples: the calibration the run gives, else
// scale 1 and offset 0 for float samples (they are LAC values themselves),
// else fields 3 and 4 of `record` (which already holds this slice's
// fields). Throws SliceError when the record has none.
Calibration samples_calibration(const ReadSlice& slice, const DescriptionRecord& record,
                                const std::optional<Calibration>& given);

// Checks the calibration (of `record`, which already holds this slice's
// fields) and the crop rectangle, quantises, formats the output record and
// lays out the 8-bit file. Throws SliceError; MemoryShortage when the 8-bit
// image cannot be had.
ConvertedSlice finish_slice(const ReadSlice& slice, const DescriptionRecord& record,
                            const RunParameters& run, ConversionBuffers& buffers);

// Stores the slice's 8-bit file under its output name. Throws SliceError.
void store_converted(const StackFolder& folder, const ConvertedSlice& converted);

// Slice 1 converted from a file in memory, as the first slice of a run.
ConvertedSlice convert_single_slice(const InputFile& file, const RunParameters& run);

}  // namespace slabtone
