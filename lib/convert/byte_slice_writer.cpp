#include "convert/byte_slice_writer.hpp"

#include <cstdint>
#include <limits>

#include "common/failure.hpp"
#include "common/saturating.hpp"
#include "convert/tiff_stream.hpp"
#include "platform/atomic_file.hpp"

namespace slabtone {

namespace {

constexpr const char* kArtist = "Lumera";

// The ten fields in their order, then one raw strip per row, then the
// directory. Throws cannot write file when libtiff refuses any of it.
void lay_out(const std::string& output_name, std::span<const std::uint8_t> bytes,
             std::uint32_t width, std::uint32_t height, const std::string& description,
             TiffSink& sink) {
    TiffStream stream(sink);
    {
        TiffHandle tiff = open_tiff_stream(output_name, "w", stream);
        if (!tiff) fail(output_name, Failure::cannot_write_file);
        TIFF* t = tiff.get();
        // The fields in this order, and no others.
        bool fields_set = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width) == 1 &&
                          TIFFSetField(t, TIFFTAG_IMAGELENGTH, height) == 1 &&
                          TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) == 1 &&
                          TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1 &&
                          TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) == 1 &&
                          TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
                          TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1) == 1 &&
                          TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
                          TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, description.c_str()) == 1 &&
                          TIFFSetField(t, TIFFTAG_ARTIST, kArtist) == 1;
        if (!fields_set) fail(output_name, Failure::cannot_write_file);
        // One strip per row, the bytes as they are.
        for (std::uint32_t r = 0; r < height; ++r) {
            auto* row = const_cast<std::uint8_t*>(bytes.data() + std::size_t{r} * width);
            if (TIFFWriteRawStrip(t, r, row, static_cast<tmsize_t>(width)) !=
                static_cast<tmsize_t>(width)) {
                fail(output_name, Failure::cannot_write_file);
            }
        }
        // Writes the directory; TIFFClose (by the handle) would do the same
        // but cannot report a failure.
        if (TIFFFlush(t) != 1) fail(output_name, Failure::cannot_write_file);
    }
    if (stream.failed) fail(output_name, Failure::cannot_write_file);
}

}  // namespace

std::optional<ByteBuffer> encode_byte_slice(const std::string& output_name,
                                            std::span<const std::uint8_t> bytes,
                                            std::uint32_t width, std::uint32_t height,
                                            const std::string& description, ByteBuffer recycled) {
    // Room for the whole file at once: the strips, their two tables and the
    // directory.
    // What the recycled buffer held is not kept: growing it copies nothing.
    recycled.clear();
    if (!recycled.resize(bytes.size() + description.size() + 16 * std::size_t{height} + 512)) {
        return std::nullopt;
    }
    MemorySink sink(std::move(recycled));
    lay_out(output_name, bytes, width, height, description, sink);
    return sink.take();
}

std::optional<ByteBuffer> encode_filled_slice(const std::string& output_name, std::uint32_t width,
                                              std::uint32_t height, const std::string& description,
                                              ByteBuffer recycled,
                                              const std::function<void(std::uint8_t*)>& fill) {
    // libtiff writes the 8-byte header when it opens a new file, then each
    // strip where the file ends, so the rows lie one after the other from
    // byte 8 on; the directory comes last.
    constexpr std::uint64_t kHeader = 8;
    constexpr std::uint64_t kSlackUnit = std::uint64_t{64} << 10;
    const std::uint64_t strips = std::uint64_t{width} * height;
    const std::uint64_t file =
        saturating_add(saturating_add(kHeader + 512 + 4096, strips),
                       saturating_add(description.size(), saturating_mul(16, height)));
    const std::uint64_t rounded = saturating_add(file, kSlackUnit - 1) / kSlackUnit * kSlackUnit;
    if (rounded > std::numeric_limits<std::size_t>::max() - 1 ||
        !recycled.reserve_empty(static_cast<std::size_t>(rounded))) {
        return std::nullopt;
    }
    MemorySink sink(std::move(recycled));
    std::uint8_t* const rows = sink.prefill(kHeader, strips);
    if (rows == nullptr) return std::nullopt;
    fill(rows);
    lay_out(output_name, {rows, static_cast<std::size_t>(strips)}, width, height, description,
            sink);
    if (sink.clobbered()) return std::nullopt;
    return sink.take();
}

void store_byte_slice(const StackFolder& folder, const std::string& output_name,
                      std::span<const std::uint8_t> file) {
    if (!store_file_atomically(folder.path_of(output_name), file)) {
        fail(output_name, Failure::cannot_write_file);
    }
}

void write_byte_slice(const StackFolder& folder, const std::string& output_name,
                      std::span<const std::uint8_t> bytes, std::uint32_t width,
                      std::uint32_t height, const std::string& description) {
    AtomicFile file(folder.path_of(output_name));
    if (file.fd() < 0) fail(output_name, Failure::cannot_write_file);
    FileSink sink(file.fd());
    lay_out(output_name, bytes, width, height, description, sink);
    if (!sink.flush() || !file.commit()) fail(output_name, Failure::cannot_write_file);
}

}  // namespace slabtone
