// The run: every slice number of the inclusive range, one slice completely
// (read, converted, written, reported) before the next.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "description_record.hpp"
#include "lac_window.hpp"

namespace slabtone {

std::string input_name(std::int64_t slice);   // "rec%04d.tif"
std::string output_name(std::int64_t slice);  // "ro%04d.tif"

// A slice converted in memory, ready to be stored.
struct ConvertedSlice {
    std::string input_name;
    std::string output_name;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> bytes;  // width * height, row after row
    std::string description;          // the output record
};

// Reads, calibrates, crops and quantises one slice. The record carries the
// description fields over from earlier slices. Throws SliceError.
ConvertedSlice convert_slice(std::int64_t slice, const RunParameters& run,
                             DescriptionRecord& record, QuantisationTable& table);

// Converts the whole range, printing a progress line per slice on `out`
// and "\nfinish\n" at the end. Throws SliceError at the first slice that
// fails; the slices before it are stored.
void run_slices(const RunParameters& run, std::FILE* out);

}  // namespace slabtone
