#include "byte_slice_writer.hpp"

#include "atomic_file.hpp"
#include "failure.hpp"
#include "tiff_memory_stream.hpp"

namespace slabtone {

namespace {

constexpr const char* kArtist = "Lumera";

}  // namespace

ByteBuffer encode_byte_slice(const std::string& output_name, std::span<const std::uint8_t> bytes,
                             std::uint32_t width, std::uint32_t height,
                             const std::string& description, ByteBuffer recycled) {
    TiffMemoryStream stream;
    stream.bytes = std::move(recycled);
    // Room for the whole file at once: the strips, their two tables and the
    // directory.
    if (!stream.bytes.resize(bytes.size() + description.size() + 16 * std::size_t{height} + 512)) {
        fail(output_name, Failure::cannot_write_file);
    }
    stream.bytes.clear();
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
    return std::move(stream.bytes);
}

void store_byte_slice(const std::string& output_name, std::span<const std::uint8_t> file) {
    if (!store_file_atomically(output_name, file)) fail(output_name, Failure::cannot_write_file);
}

void write_byte_slice(const std::string& output_name, std::span<const std::uint8_t> bytes,
                      std::uint32_t width, std::uint32_t height, const std::string& description) {
    store_byte_slice(output_name,
                     encode_byte_slice(output_name, bytes, width, height, description).bytes());
}

}  // namespace slabtone
