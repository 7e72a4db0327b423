// Every message the library can report after a file name: one closed set of
// codes, one table of texts (failure.cpp). The one error type that carries
// such a message up to a program, SliceError, is the public header's.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "slabtone/slabtone.hpp"

namespace slabtone {

// A closed set: the text of each code lives in one table (failure.cpp) and
// nowhere else.
enum class Failure {
    // reader: header and directory
    file_not_found,
    bad_magic_number,
    // reader: image attributes
    primary_attribute_not_found,
    too_large_image_size,
    bad_photometric_interpretation,
    too_many_samples_per_pixel,
    too_many_bits_per_sample,
    bad_planar_configuration,
    unknown_compression,
    bad_fill_order,
    unknown_predictor,
    unsupported_sample_format,
    // reader: description, rows and strip tables
    description_allocation,
    cell_allocation,
    bad_rows_per_strip,
    strip_offset_allocation,
    bad_strip_offset_count,
    strip_offset_not_found,
    strip_bytes_allocation,
    bad_strip_bytes_count,
    strip_bytes_not_found,
    // reader: uncompressed and PackBits strips
    raw_too_few_codes,
    raw_too_many_codes,
    packbits_too_few_codes,
    packbits_too_many_codes,
    // reader: LZW strips
    lzw_too_few_codes,
    lzw_missing_first_clear,
    lzw_unexpected_end,
    lzw_unknown_after_clear,
    lzw_too_large_code,
    lzw_too_long_string,
    lzw_table_overflow,
    lzw_missing_end,
    lzw_too_many_codes,
    // reader: Deflate strips (the open reader)
    deflate_data_error,
    deflate_too_few_codes,
    deflate_too_many_codes,
    // conversion
    calibration_not_found,
    crop_outside_image,
    byte_image_allocation,
    cannot_write_file,
    // a range read or measured as a whole
    other_slice_size,
    other_sample_format,
    no_lac_sample,
    // a run whose names are formed from patterns
    output_replaces_input,
};

inline constexpr Failure kLastFailure = Failure::output_replaces_input;

std::string_view failure_text(Failure failure);

// The code of an error's message; nullopt for a text not in the table.
std::optional<Failure> failure_of(const SliceError& error) noexcept;

// Something the slice needs that the process cannot give it now. Converted
// beside other slices, which may hold what is missing, the slice is
// converted again alone; alone, it is the slice's failure like any other.
class Shortage : public SliceError {
  public:
    Shortage(std::string file_name, Failure failure)
        : SliceError(std::move(file_name), failure_text(failure)) {}
};

// A buffer the slice needs that the memory there is cannot give.
class MemoryShortage : public Shortage {
  public:
    using Shortage::Shortage;
};

// The slice's file could not be opened for lack of file descriptors
// (EMFILE, ENFILE); alone, it is "file not found." as any file that cannot
// be opened.
class DescriptorShortage : public Shortage {
  public:
    using Shortage::Shortage;
};

[[noreturn]] void fail(const std::string& file_name, Failure failure);
[[noreturn]] void fail_for_memory(const std::string& file_name, Failure failure);

}  // namespace slabtone
