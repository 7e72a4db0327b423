#include "tiff/row_assembly.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "tiff/bulk_decoders.hpp"
#include "tiff/lzw_decoder.hpp"
#include "tiff/packbits_decoder.hpp"
#include "tiff/raw_decoder.hpp"
#include "tiff/sample_bits.hpp"

namespace slabtone {

namespace {

struct StripSpan {
    std::uint32_t first_row;
    std::uint32_t rows;
    std::uint32_t offset;
    std::uint32_t byte_count;
};

// ---- Byte at a time ----

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
            unpack_row([&] { return std::uint32_t{decoder.next_byte()}; }, row, width, bits);
    }
}

template <class Decoder>
void exact_strip(Decoder& decoder, const StripSpan& strip, const ImageLayout& layout,
                 ByteOrder byte_order, RowTable& rows) {
    decoder.begin_strip(strip.offset, strip.byte_count);
    for (std::uint32_t r = strip.first_row; r < strip.first_row + strip.rows; ++r) {
        fill_row(decoder, rows.row(r), layout.width, layout.bits_per_sample, byte_order);
    }
    decoder.end_strip();
}

// The byte-at-a-time decoder for the layout, made when first needed.
class ExactDecoders {
  public:
    ExactDecoders(const InputFile& file, const std::string& file_name, const ImageLayout& layout)
        : bytes_(file, layout.fill_reversed), file_name_(file_name), layout_(layout) {}

    void decode(const StripSpan& strip, ByteOrder byte_order, RowTable& rows) {
        switch (layout_.compression) {
            case Compression::none:
                if (!raw_) raw_.emplace(bytes_, file_name_);
                exact_strip(*raw_, strip, layout_, byte_order, rows);
                break;
            case Compression::packbits:
                if (!packbits_) packbits_.emplace(bytes_, file_name_);
                exact_strip(*packbits_, strip, layout_, byte_order, rows);
                break;
            case Compression::lzw:
                // The code tables are 12 KiB: keep them off the stack.
                if (!lzw_) lzw_ = std::make_unique<LzwDecoder>(bytes_, file_name_);
                exact_strip(*lzw_, strip, layout_, byte_order, rows);
                break;
            case Compression::deflate:  // the open reader's alone, never here
                break;
        }
    }

  private:
    EncodedBytes bytes_;
    const std::string& file_name_;
    const ImageLayout& layout_;
    std::optional<RawDecoder> raw_;
    std::optional<PackBitsDecoder> packbits_;
    std::unique_ptr<LzwDecoder> lzw_;
};

// ---- In bulk ----

std::uint64_t row_bytes_of(const ImageLayout& layout) {
    return (std::uint64_t{layout.width} * layout.bits_per_sample + 7) / 8;
}

// Samples of 16 bits decoded in place in the row table: put them in the
// machine's byte order.
bool native_order(ByteOrder byte_order) {
    return (byte_order == ByteOrder::little) == (std::endian::native == std::endian::little);
}

void to_native_order(std::uint16_t* samples, std::size_t count, ByteOrder byte_order) {
    if (native_order(byte_order)) return;
    for (std::size_t i = 0; i < count; ++i) samples[i] = __builtin_bswap16(samples[i]);
}

void bytes_to_rows(const std::uint8_t* decoded, std::uint32_t first_row, std::uint32_t count,
                   const ImageLayout& layout, RowTable& rows) {
    const std::uint64_t row_bytes = row_bytes_of(layout);
    for (std::uint32_t r = 0; r < count; ++r) {
        std::uint16_t* row = rows.row(first_row + r);
        const std::uint8_t* in = decoded + r * row_bytes;
        if (layout.bits_per_sample == 8) {
            std::copy(in, in + layout.width, row);
        } else {
            unpack_row([&] { return std::uint32_t{*in++}; }, row, layout.width,
                       layout.bits_per_sample);
        }
    }
}

// Samples of no bits are all 0.
void zero_rows(const StripSpan& strip, const ImageLayout& layout, RowTable& rows) {
    std::fill(rows.row(strip.first_row),
              rows.row(strip.first_row) + std::size_t{strip.rows} * layout.width, std::uint16_t{0});
}

// Room for `bytes` in a buffer kept from slice to slice, with slack: the
// strips of a stack's slices differ a little in size, and a buffer grown to
// exactly each larger one would be mapped and faulted in anew each time.
void reserve_for_strips(PooledBuffer& buffer, std::uint64_t bytes) {
    if (bytes <= buffer.capacity()) return;
    const std::uint64_t slack = std::max<std::uint64_t>(bytes / 16, std::uint64_t{64} << 10);
    if (bytes + slack <= std::numeric_limits<std::size_t>::max()) {
        buffer.reserve(static_cast<std::size_t>(bytes + slack));  // else as much as asked, later
    }
}

// The stored bytes of [position, position + count) as the decoders read
// them (bits reversed for FillOrder 2), followed by InputFile::kPadding
// bytes; null when the memory for them cannot be had.
const std::uint8_t* stored_bytes(const InputFile& file, std::uint64_t position, std::uint64_t count,
                                 bool reversed, PooledBuffer& scratch) {
    if (!reversed) return file.bytes_at(position, count, scratch);
    if (!scratch.reserve(static_cast<std::size_t>(count) + InputFile::kPadding)) return nullptr;
    const std::uint8_t* stored = file.bytes_at(position, count, scratch);
    if (stored == nullptr) return nullptr;
    reverse_bits(stored, static_cast<std::size_t>(count) + InputFile::kPadding, scratch.data());
    return scratch.data();
}

// An uncompressed strip, whose byte count matches its rows: 16-bit rows
// are read straight into the row table; narrower ones a few rows at a time.
bool raw_strip(const InputFile& file, const StripSpan& strip, const ImageLayout& layout,
               ByteOrder byte_order, RowTable& rows, AssemblyScratch& scratch) {
    const unsigned bits = layout.bits_per_sample;
    if (bits == 0) {  // nothing is read
        zero_rows(strip, layout, rows);
        return true;
    }
    const std::uint64_t row_bytes = row_bytes_of(layout);
    if (bits == 16) {
        const std::uint64_t needed = std::uint64_t{strip.rows} * row_bytes;
        std::uint8_t* target = rows.bytes() + std::size_t{strip.first_row} * row_bytes;
        if (file.read(strip.offset, {target, static_cast<std::size_t>(needed)}) < needed) {
            return false;  // the file ended early after all
        }
        if (layout.fill_reversed) reverse_bits(target, static_cast<std::size_t>(needed), target);
        to_native_order(rows.row(strip.first_row), std::size_t{strip.rows} * layout.width,
                        byte_order);
        return true;
    }
    constexpr std::uint64_t kChunkBytes = std::uint64_t{1} << 20;
    const auto rows_per_chunk = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(kChunkBytes / row_bytes, 1, strip.rows));
    for (std::uint32_t done = 0; done < strip.rows; done += rows_per_chunk) {
        const std::uint32_t count = std::min(rows_per_chunk, strip.rows - done);
        const std::uint8_t* stored =
            stored_bytes(file, strip.offset + done * row_bytes, count * row_bytes,
                         layout.fill_reversed, scratch.decoded);
        if (stored == nullptr) return false;
        bytes_to_rows(stored, strip.first_row + done, count, layout, rows);
    }
    return true;
}

// A strip wholly inside the file, decoded in bulk; false when the memory
// for that cannot be had, before anything is decoded.
bool fast_strip(const InputFile& file, const std::string& file_name, const StripSpan& strip,
                const ImageLayout& layout, ByteOrder byte_order, RowTable& rows,
                AssemblyScratch& scratch) {
    const unsigned bits = layout.bits_per_sample;
    const std::uint64_t needed = std::uint64_t{strip.rows} * row_bytes_of(layout);
    if (layout.compression == Compression::none) {
        check_raw_strip(strip.byte_count, needed, file_name);
        return raw_strip(file, strip, layout, byte_order, rows, scratch);
    }
    if (!file.in_memory() || layout.fill_reversed) {
        reserve_for_strips(scratch.encoded, std::uint64_t{strip.byte_count} + InputFile::kPadding);
    }
    const std::uint8_t* encoded =
        stored_bytes(file, strip.offset, strip.byte_count, layout.fill_reversed, scratch.encoded);
    if (encoded == nullptr) return false;

    // 16-bit rows are decoded straight into the row table, which is one
    // block of exactly those bytes (with slack after it).
    std::uint8_t* target = nullptr;
    if (bits == 16) {
        target = rows.bytes() + std::size_t{strip.first_row} * layout.width * 2;
    } else if (bits != 0) {
        if (!scratch.decoded.reserve(static_cast<std::size_t>(needed) + RowTable::kSlackBytes)) {
            return false;
        }
        target = scratch.decoded.data();
    }
    if (layout.compression == Compression::packbits) {
        decode_packbits_strip(encoded, strip.byte_count, needed, target, file_name);
    } else {
        decode_lzw_strip(encoded, strip.byte_count, needed, target, file_name);
    }

    if (bits == 16) {
        to_native_order(rows.row(strip.first_row), std::size_t{strip.rows} * layout.width,
                        byte_order);
    } else if (bits == 0) {
        zero_rows(strip, layout, rows);
    } else {
        bytes_to_rows(target, strip.first_row, strip.rows, layout, rows);
    }
    return true;
}

// The strips from `first` on that follow one another in the file (each
// starts where the one before ends), up to `most_bytes` in all; at least
// `first` itself.
std::uint32_t run_end(const StripTables& tables, std::uint32_t first, std::uint64_t most_bytes) {
    std::uint64_t bytes = tables.byte_counts[first];
    std::uint32_t end = first + 1;
    while (end < tables.strips_per_image &&
           std::uint64_t{tables.offsets[end - 1]} + tables.byte_counts[end - 1] ==
               tables.offsets[end] &&
           bytes + tables.byte_counts[end] <= most_bytes) {
        bytes += tables.byte_counts[end];
        ++end;
    }
    return end;
}

// Walks the strips of one slice from the top row down, each strip or run
// of strips along the first path that can take it:
// - a run of uncompressed 16-bit strips that follow one another in the
//   file, each exactly its rows: one read straight into the rows;
// - a run of compressed strips that follow one another: one read, then
//   each strip decoded in bulk from memory;
// - a strip inside the file, with the memory for it: decoded in bulk;
// - any other strip (past the end of the file, memory short, or the exact
//   path asked for): byte by byte, the reference the others equal.
// The samples and the messages are the same whichever path a strip takes.
class StripWalk {
  public:
    StripWalk(const InputFile& file, const std::string& file_name, const ImageLayout& layout,
              const StripTables& tables, ByteOrder byte_order, RowTable& rows,
              AssemblyScratch& scratch, DecodePath path)
        : file_(file),
          file_name_(file_name),
          layout_(layout),
          tables_(tables),
          byte_order_(byte_order),
          rows_(rows),
          scratch_(scratch),
          path_(path),
          exact_(file, file_name, layout) {}

    void run() {
        // Reading a file on disk costs a call to the system per read:
        // strips that follow one another are read at once.
        const bool in_runs = path_ == DecodePath::fast && !file_.in_memory();
        for (std::uint32_t s = 0; s < tables_.strips_per_image;) {
            const std::uint32_t end = in_runs ? run_end(tables_, s, kRunBytes) : s + 1;
            if (end > s + 1 && run_of_strips(s, end)) {
                s = end;
                continue;
            }
            for (; s < end; ++s) one_strip(span_of(s));
        }
    }

  private:
    static constexpr std::uint64_t kRunBytes = std::uint64_t{64} << 20;

    StripSpan span_of(std::uint32_t s) const {
        // s < ceil(height / rows_per_strip), so the first row is below height.
        const auto first_row =
            static_cast<std::uint32_t>(std::uint64_t{s} * tables_.rows_per_strip);
        return StripSpan{first_row, std::min(tables_.rows_per_strip, layout_.height - first_row),
                         tables_.offsets[s], tables_.byte_counts[s]};
    }

    void undo_predictor(std::uint32_t first_row, std::uint32_t count) {
        if (layout_.predictor_mask == 0 || layout_.width < 2) return;
        for (std::uint32_t r = first_row; r < first_row + count; ++r) {
            undo_differencing(rows_.row(r), layout_.width, layout_.predictor_mask);
        }
    }

    // Strips s .. end - 1, which follow one another in the file; false,
    // with nothing done, when they are for one_strip each.
    bool run_of_strips(std::uint32_t s, std::uint32_t end) {
        if (layout_.compression != Compression::none) return encoded_run(s, end);
        if (layout_.bits_per_sample == 16 && exactly_their_rows(s, end)) return raw16_run(s, end);
        return false;
    }

    bool exactly_their_rows(std::uint32_t s, std::uint32_t end) const {
        const std::uint64_t row_bytes = row_bytes_of(layout_);
        for (std::uint32_t k = s; k < end; ++k) {
            const StripSpan strip = span_of(k);
            if (strip.byte_count != std::uint64_t{strip.rows} * row_bytes) return false;
        }
        return true;
    }

    // Uncompressed 16-bit strips that are exactly their rows: one strip of
    // all their rows.
    bool raw16_run(std::uint32_t s, std::uint32_t end) {
        const StripSpan first = span_of(s);
        const StripSpan last = span_of(end - 1);
        const std::uint64_t bytes = std::uint64_t{last.offset} + last.byte_count - first.offset;
        const std::uint32_t rows = last.first_row + last.rows - first.first_row;
        const StripSpan merged{first.first_row, rows, first.offset,
                               static_cast<std::uint32_t>(bytes)};
        if (!file_.holds(merged.offset, bytes) ||
            !raw_strip(file_, merged, layout_, byte_order_, rows_, scratch_)) {
            return false;
        }
        undo_predictor(first.first_row, rows);
        return true;
    }

    // Compressed strips read at once, then each decoded from memory.
    bool encoded_run(std::uint32_t s, std::uint32_t end) {
        const StripSpan first = span_of(s);
        const StripSpan last = span_of(end - 1);
        const std::uint64_t bytes = std::uint64_t{last.offset} + last.byte_count - first.offset;
        if (!file_.holds(first.offset, bytes)) return false;
        reserve_for_strips(scratch_.run, bytes + InputFile::kPadding);
        const std::uint8_t* stored = file_.bytes_at(first.offset, bytes, scratch_.run);
        if (stored == nullptr) return false;
        const InputFile run = InputFile::view_of(stored, bytes);
        for (std::uint32_t k = s; k < end; ++k) {
            const StripSpan strip = span_of(k);
            StripSpan in_run = strip;
            in_run.offset -= first.offset;
            if (!fast_strip(run, file_name_, in_run, layout_, byte_order_, rows_, scratch_)) {
                exact_.decode(strip, byte_order_, rows_);
            }
            undo_predictor(strip.first_row, strip.rows);
        }
        return true;
    }

    void one_strip(const StripSpan& strip) {
        const bool in_bulk =
            path_ == DecodePath::fast && file_.holds(strip.offset, strip.byte_count) &&
            fast_strip(file_, file_name_, strip, layout_, byte_order_, rows_, scratch_);
        if (!in_bulk) exact_.decode(strip, byte_order_, rows_);
        undo_predictor(strip.first_row, strip.rows);
    }

    const InputFile& file_;
    const std::string& file_name_;
    const ImageLayout& layout_;
    const StripTables& tables_;
    const ByteOrder byte_order_;
    RowTable& rows_;
    AssemblyScratch& scratch_;
    const DecodePath path_;
    ExactDecoders exact_;
};

}  // namespace

void assemble_rows(const InputFile& file, const std::string& file_name, const ImageLayout& layout,
                   const StripTables& tables, ByteOrder byte_order, RowTable& rows,
                   AssemblyScratch& scratch, DecodePath path) {
    StripWalk(file, file_name, layout, tables, byte_order, rows, scratch, path).run();
}

}  // namespace slabtone
