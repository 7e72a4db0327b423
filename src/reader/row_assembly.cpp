#include "row_assembly.hpp"

#include <algorithm>

#include "lzw_decoder.hpp"
#include "packbits_decoder.hpp"
#include "raw_decoder.hpp"

namespace slabtone {

namespace {

// One row's samples from the decoded byte stream. Values are the decoders'
// 16-bit results: a byte past the end of the file may arrive as 65535, and
// the rules below apply to it unchanged.
template <class Decoder>
void fill_row(Decoder& decoder, std::uint16_t* row, std::uint32_t width, unsigned bits,
              ByteOrder byte_order) {
    switch (bits) {
        case 0:
            std::fill(row, row + width, std::uint16_t{0});
            return;
        case 8:
            for (std::uint32_t i = 0; i < width; ++i) row[i] = decoder.next_byte();
            return;
        case 16:
            for (std::uint32_t i = 0; i < width; ++i) {
                std::uint32_t first = decoder.next_byte();
                std::uint32_t second = decoder.next_byte();
                row[i] = static_cast<std::uint16_t>(byte_order == ByteOrder::little
                                                        ? first | (second << 8)
                                                        : (first << 8) | second);
            }
            return;
        default:
            break;
    }
    // Packed samples, most significant bit first. Every row starts on a byte
    // boundary: the unused bits of its last byte are dropped.
    std::uint32_t byte = 0;
    unsigned bits_left = 0;
    for (std::uint32_t i = 0; i < width; ++i) {
        std::uint32_t sample = 0;
        for (unsigned k = 0; k < bits; ++k) {
            if (bits_left == 0) {
                byte = decoder.next_byte() & 0xFFu;
                bits_left = 8;
            }
            --bits_left;
            sample = (sample << 1) | ((byte >> bits_left) & 1u);
        }
        row[i] = static_cast<std::uint16_t>(sample);
    }
}

// Predictor 2 stores each sample as the difference from its left neighbour,
// modulo 2^bits.
void undo_differencing(std::uint16_t* row, std::uint32_t width, std::uint16_t mask) {
    for (std::uint32_t i = 1; i < width; ++i) {
        row[i] = static_cast<std::uint16_t>((row[i] + row[i - 1]) & mask);
    }
}

template <class Decoder>
void assemble_with(Decoder decoder, const ImageLayout& layout, const StripTables& tables,
                   ByteOrder byte_order, RowTable& rows) {
    const std::uint32_t rows_per_strip = tables.rows_per_strip;
    for (std::uint32_t r = 0; r < layout.height; ++r) {
        std::uint16_t* row = rows.row(r);
        if (r % rows_per_strip == 0) {
            std::uint32_t strip = r / rows_per_strip;
            decoder.begin_strip(tables.offsets[strip], tables.byte_counts[strip]);
        }
        fill_row(decoder, row, layout.width, layout.bits_per_sample, byte_order);
        if (r + 1 == layout.height || (r + 1) % rows_per_strip == 0) decoder.end_strip();
        if (layout.predictor_mask != 0 && layout.width >= 2) {
            undo_differencing(row, layout.width, layout.predictor_mask);
        }
    }
}

}  // namespace

void assemble_rows(const InputFile& file, const std::string& file_name, const ImageLayout& layout,
                   const StripTables& tables, ByteOrder byte_order, RowTable& rows) {
    EncodedBytes bytes(file, layout.fill_reversed);
    switch (layout.compression) {
        case Compression::none:
            assemble_with(RawDecoder(bytes, file_name), layout, tables, byte_order, rows);
            break;
        case Compression::packbits:
            assemble_with(PackBitsDecoder(bytes, file_name), layout, tables, byte_order, rows);
            break;
        case Compression::lzw: {
            // The code tables are 12 KiB: keep them off the stack.
            auto decoder = std::make_unique<LzwDecoder>(bytes, file_name);
            assemble_with<LzwDecoder&>(*decoder, layout, tables, byte_order, rows);
            break;
        }
    }
}

}  // namespace slabtone
