// Turns the strips of a slice into rows of 16-bit samples.
#pragma once

#include <string>

#include "image_attributes.hpp"
#include "input_file.hpp"
#include "row_table.hpp"
#include "strip_tables.hpp"

namespace slabtone {

// Fills every sample of `rows`, strip by strip, from the top row down.
void assemble_rows(const InputFile& file, const std::string& file_name, const ImageLayout& layout,
                   const StripTables& tables, ByteOrder byte_order, RowTable& rows);

}  // namespace slabtone
