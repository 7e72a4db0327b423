#include "byte_slice_writer.hpp"

#include "atomic_file.hpp"
#include "failure.hpp"
#include "tiff_stream.hpp"

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
    if (!recycled.resize(bytes.size() + description.size() + 16 * std::size_t{height} + 512)) {
        return std::nullopt;
    }
    MemorySink sink(std::move(recycled));
    lay_out(output_name, bytes, width, height, description, sink);
    return sink.take();
}

void store_byte_slice(const std::string& output_name, std::span<const std::uint8_t> file) {
    if (!store_file_atomically(output_name, file)) fail(output_name, Failure::cannot_write_file);
}

void write_byte_slice(const std::string& output_name, std::span<const std::uint8_t> bytes,
                      std::uint32_t width, std::uint32_t height, const std::string& description) {
    AtomicFile file(output_name);
    if (file.fd() < 0) fail(output_name, Failure::cannot_write_file);
    FileSink sink(file.fd());
    lay_out(output_name, bytes, width, height, description, sink);
    if (!sink.flush() || !file.commit()) fail(output_name, Failure::cannot_write_file);
}

}  // namespace slabtone
