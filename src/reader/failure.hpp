// Every message the program can print after a file name, and the one error
// type that carries such a message up to main.
#pragma once

#include <exception>
#include <string>
#include <string_view>

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
    // driver
    calibration_not_found,
    crop_outside_image,
    byte_image_allocation,
    cannot_write_file,
};

std::string_view failure_text(Failure failure);

// Thrown by the reader and the driver; main prints "<file> : <message>" and
// exits with status 1.
class SliceError : public std::exception {
  public:
    SliceError(std::string file_name, Failure failure);

    const std::string& file_name() const noexcept { return file_name_; }
    Failure failure() const noexcept { return failure_; }
    std::string_view message() const noexcept { return failure_text(failure_); }
    // "<file> : <message>", as printed.
    const char* what() const noexcept override { return line_.c_str(); }

  private:
    std::string file_name_;
    Failure failure_;
    std::string line_;
};

// Something the slice needs that the process cannot give it now. Converted
// beside other slices, which may hold what is missing, the slice is
// converted again alone; alone, it is the slice's failure like any other.
class Shortage : public SliceError {
  public:
    using SliceError::SliceError;
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
