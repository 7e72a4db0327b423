// Turns the strips of a slice into rows of 16-bit samples.
#pragma once

#include <cstdint>
#include <string>

#include "common/memory_pool.hpp"
#include "tiff/image_attributes.hpp"
#include "tiff/input_file.hpp"
#include "tiff/row_table.hpp"
#include "tiff/strip_tables.hpp"

namespace slabtone {

enum class DecodePath {
    // Strips inside the file are decoded in bulk, as long as the memory for
    // that is there; strips that reach past its end, and the others when
    // memory is short, byte by byte as they are read.
    fast,
    // Every strip byte by byte: the reference the fast path is tested against.
    exact,
};

// Working memory that may be kept from one slice to the next.
struct AssemblyScratch {
    PooledBuffer encoded;  // a strip read from disk, or with its bits reversed (FillOrder 2)
    PooledBuffer decoded;  // decoded bytes of a strip not of 16 bits
    PooledBuffer run;      // strips that follow one another in the file, read at once
};

// Fills every sample of `rows`, strip by strip, from the top row down.
void assemble_rows(const InputFile& file, const std::string& file_name, const ImageLayout& layout,
                   const StripTables& tables, ByteOrder byte_order, RowTable& rows,
                   AssemblyScratch& scratch, DecodePath path = DecodePath::fast);

}  // namespace slabtone
