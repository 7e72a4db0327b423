// The open reader's rows: the strips of a BigTIFF file, or of signed or
// float samples, decoded in bulk into rows of their own type.
#pragma once

#include <string>

#include "tiff/image_attributes.hpp"
#include "tiff/input_file.hpp"
#include "tiff/row_assembly.hpp"
#include "tiff/row_table.hpp"
#include "tiff/strip_tables.hpp"

namespace slabtone {

// Fills `rows`: unsigned samples as 16-bit values, signed ones as the bits
// of 16-bit two's complement (8-bit samples sign-extended), float samples
// as native floats (two 16-bit places each). Strip bytes past the end of
// the file read as 0xFF, as the byte-at-a-time reading has them.
void assemble_open_rows(const InputFile& file, const std::string& file_name,
                        const ImageLayout& layout, const WideStripTables& tables,
                        ByteOrder byte_order, RowTable& rows, AssemblyScratch& scratch);

}  // namespace slabtone
