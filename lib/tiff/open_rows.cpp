#include "tiff/open_rows.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include "common/failure.hpp"
#include "tiff/bulk_decoders.hpp"
#include "tiff/deflate_decoder.hpp"
#include "tiff/encoded_bytes.hpp"
#include "tiff/sample_bits.hpp"

namespace slabtone {

namespace {

ByteOrder native_order() noexcept {
    return std::endian::native == std::endian::big ? ByteOrder::big : ByteOrder::little;
}

// Predictor 3 (TIFF Technote 3): each row's bytes were differenced byte by
// byte, after the samples' bytes had been laid out as planes, the most
// significant bytes of all samples first, whatever the file's byte order.
void undo_floating_predictor(std::uint8_t* row, std::uint32_t width, std::uint8_t* planes) {
    const std::size_t count = std::size_t{width} * 4;
    std::memcpy(planes, row, count);
    for (std::size_t i = 1; i < count; ++i) {
        planes[i] = static_cast<std::uint8_t>(planes[i] + planes[i - 1]);
    }
    for (std::uint32_t i = 0; i < width; ++i) {
        const std::uint32_t bits = std::uint32_t{planes[i]} << 24 |
                                   std::uint32_t{planes[width + i]} << 16 |
                                   std::uint32_t{planes[std::size_t{2} * width + i]} << 8 |
                                   planes[std::size_t{3} * width + i];
        std::memcpy(row + std::size_t{i} * 4, &bits, 4);
    }
}

class OpenRows {
  public:
    OpenRows(const std::string& file_name, const ImageLayout& layout, ByteOrder order,
             RowTable& rows, AssemblyScratch& scratch)
        : file_name_(file_name), layout_(layout), order_(order), rows_(rows), scratch_(scratch) {}

    // One row's samples from its decoded bytes.
    void place(const std::uint8_t* in, std::uint32_t r) {
        const std::uint32_t width = layout_.width;
        const unsigned bits = layout_.bits_per_sample;
        std::uint16_t* row = rows_.row(r);
        if (layout_.kind == SampleKind::floating) {
            place_floats(in, reinterpret_cast<std::uint8_t*>(row));
            return;
        }
        if (bits == 16 && order_ == native_order()) {
            std::memcpy(row, in, std::size_t{width} * 2);
        } else if (bits == 16) {
            for (std::uint32_t i = 0; i < width; ++i) {
                const std::uint8_t* at = in + std::size_t{i} * 2;
                row[i] = static_cast<std::uint16_t>(order_ == ByteOrder::big ? at[0] << 8 | at[1]
                                                                             : at[1] << 8 | at[0]);
            }
        } else if (bits == 8) {
            std::copy(in, in + width, row);
        } else if (bits == 0) {
            std::fill(row, row + width, std::uint16_t{0});
        } else {
            unpack_row([&] { return std::uint32_t{*in++}; }, row, width, bits);
        }
        if (layout_.predictor_mask != 0 && width >= 2) {
            undo_differencing(row, width, layout_.predictor_mask);
        }
        if (layout_.kind == SampleKind::signed_int && bits == 8) {
            for (std::uint32_t i = 0; i < width; ++i) {
                row[i] = static_cast<std::uint16_t>(static_cast<std::int8_t>(row[i] & 0xFF));
            }
        }
    }

    std::uint8_t* planes(std::size_t bytes) {
        if (!scratch_.run.reserve(bytes)) fail_for_memory(file_name_, Failure::cell_allocation);
        return scratch_.run.data();
    }

  private:
    // A 32-bit word of the file's order.
    std::uint32_t word_at(const std::uint8_t* at) const noexcept {
        if (order_ == ByteOrder::big) {
            return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 |
                   std::uint32_t{at[2]} << 8 | at[3];
        }
        return std::uint32_t{at[3]} << 24 | std::uint32_t{at[2]} << 16 | std::uint32_t{at[1]} << 8 |
               at[0];
    }

    void place_floats(const std::uint8_t* in, std::uint8_t* out) {
        const std::uint32_t width = layout_.width;
        if (layout_.floating_predictor) {
            std::memcpy(out, in, std::size_t{width} * 4);
            undo_floating_predictor(out, width, planes(std::size_t{width} * 4));
            return;
        }
        if (!layout_.word_differencing && order_ == native_order()) {
            std::memcpy(out, in, std::size_t{width} * 4);
            return;
        }
        std::uint32_t previous = 0;
        for (std::uint32_t i = 0; i < width; ++i) {
            std::uint32_t bits = word_at(in + std::size_t{i} * 4);
            // Predictor 2 on 32-bit samples: differences of the words,
            // modulo 2^32.
            if (layout_.word_differencing && i > 0) bits += previous;
            previous = bits;
            std::memcpy(out + std::size_t{i} * 4, &bits, 4);
        }
    }

    const std::string& file_name_;
    const ImageLayout& layout_;
    ByteOrder order_;
    RowTable& rows_;
    AssemblyScratch& scratch_;
};

// The strip's stored bytes, with the bytes past the end of the file as
// 0xFF, its bits reversed for FillOrder 2, and InputFile::kPadding zero
// bytes after them for the bulk decoders.
const std::uint8_t* stored_strip(const InputFile& file, const std::string& file_name,
                                 std::uint64_t offset, std::uint64_t count, bool reversed,
                                 PooledBuffer& buffer) {
    if (count > std::numeric_limits<std::size_t>::max() - InputFile::kPadding ||
        !buffer.reserve(static_cast<std::size_t>(count) + InputFile::kPadding)) {
        fail_for_memory(file_name, Failure::cell_allocation);
    }
    std::uint8_t* bytes = buffer.data();
    const auto size = static_cast<std::size_t>(count);
    const std::uint64_t got = file.read(offset, {bytes, size});
    std::fill(bytes + got, bytes + size, std::uint8_t{0xFF});
    std::fill(bytes + size, bytes + size + InputFile::kPadding, std::uint8_t{0});
    if (reversed) reverse_bits(bytes, size, bytes);
    return bytes;
}

// Whether rows need no work past reading: 16-bit or float samples in the
// machine's order, undifferenced, bits in their usual order.
bool rows_as_stored(const ImageLayout& layout, ByteOrder order) {
    if (layout.fill_reversed || order != native_order()) return false;
    if (layout.kind == SampleKind::floating) {
        return !layout.floating_predictor && !layout.word_differencing;
    }
    return layout.bits_per_sample == 16 && layout.predictor_mask == 0;
}

}  // namespace

void assemble_open_rows(const InputFile& file, const std::string& file_name,
                        const ImageLayout& layout, const WideStripTables& tables,
                        ByteOrder byte_order, RowTable& rows, AssemblyScratch& scratch) {
    const std::uint64_t row_bytes = (std::uint64_t{layout.width} * layout.bits_per_sample + 7) / 8;
    OpenRows open(file_name, layout, byte_order, rows, scratch);
    DeflateDecoder deflate;
    for (std::uint32_t s = 0; s < tables.strips_per_image; ++s) {
        const auto first_row = static_cast<std::uint32_t>(std::uint64_t{s} * tables.rows_per_strip);
        const std::uint32_t count = std::min(tables.rows_per_strip, layout.height - first_row);
        const std::uint64_t needed = std::uint64_t{count} * row_bytes;
        const std::uint64_t byte_count = tables.byte_counts[s];
        if (layout.compression == Compression::none) {
            if (byte_count < needed) fail(file_name, Failure::raw_too_few_codes);
            if (byte_count > needed) fail(file_name, Failure::raw_too_many_codes);
        }
        if (layout.compression == Compression::none && rows_as_stored(layout, byte_order)) {
            // The strip's bytes are its rows as the table holds them: read
            // straight into place (bytes past the end of the file as 0xFF).
            auto* place = reinterpret_cast<std::uint8_t*>(rows.row(first_row));
            const auto size = static_cast<std::size_t>(needed);
            const std::uint64_t got = file.read(tables.offsets[s], {place, size});
            std::fill(place + got, place + size, std::uint8_t{0xFF});
            continue;
        }
        const std::uint8_t* stored = stored_strip(file, file_name, tables.offsets[s], byte_count,
                                                  layout.fill_reversed, scratch.encoded);
        const std::uint8_t* decoded = stored;
        if (layout.compression != Compression::none) {
            if (needed > std::numeric_limits<std::size_t>::max() - RowTable::kSlackBytes ||
                !scratch.decoded.reserve(static_cast<std::size_t>(needed) +
                                         RowTable::kSlackBytes)) {
                fail_for_memory(file_name, Failure::cell_allocation);
            }
            decoded = scratch.decoded.data();
            if (layout.compression == Compression::deflate) {
                deflate.decode(stored, byte_count, needed, scratch.decoded.data(), file_name);
            } else {
                // A strip of 4 GiB or more is more than any row of a slice needs.
                const bool lzw = layout.compression == Compression::lzw;
                if (byte_count > std::numeric_limits<std::uint32_t>::max()) {
                    fail(file_name,
                         lzw ? Failure::lzw_too_many_codes : Failure::packbits_too_many_codes);
                }
                const auto bytes = static_cast<std::uint32_t>(byte_count);
                if (lzw) {
                    decode_lzw_strip(stored, bytes, needed, scratch.decoded.data(), file_name);
                } else {
                    decode_packbits_strip(stored, bytes, needed, scratch.decoded.data(), file_name);
                }
            }
        }
        for (std::uint32_t r = 0; r < count; ++r)
            open.place(decoded + r * row_bytes, first_row + r);
    }
}

}  // namespace slabtone
