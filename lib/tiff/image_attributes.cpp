#include "tiff/image_attributes.hpp"

#include <algorithm>
#include <cstdint>

#include "common/failure.hpp"
#include "common/memory_pool.hpp"

namespace slabtone {

namespace {

enum Tag : std::uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometricInterpretation = 262,
    kFillOrder = 266,
    kImageDescription = 270,
    kSamplesPerPixel = 277,
    kPlanarConfiguration = 284,
    kPredictor = 317,
    kSampleFormat = 339,
};

constexpr std::uint32_t kTopBit = 0x80000000u;
constexpr std::uint16_t kNoPhotometric = 65535;
constexpr unsigned kMaxBitsPerSample = 16;

bool photometric_supported(std::uint16_t value) {
    // WhiteIsZero, BlackIsZero, palette and transparency mask: all delivered
    // as stored, one sample per pixel.
    return value == 0 || value == 1 || value == 3 || value == 4;
}

}  // namespace

namespace {

// Width, length, photometric interpretation and samples per pixel.
ImageLayout check_geometry(TiffDirectory& directory, const std::string& file_name) {
    ImageLayout layout;
    layout.width = directory.read_integer_tag(kImageWidth, 0);
    if (layout.width == 0) fail(file_name, Failure::primary_attribute_not_found);
    layout.height = directory.read_integer_tag(kImageLength, 0);
    if (layout.height == 0) fail(file_name, Failure::primary_attribute_not_found);
    std::uint16_t photometric =
        directory.read_short_tag(kPhotometricInterpretation, kNoPhotometric);
    if (photometric == kNoPhotometric) fail(file_name, Failure::primary_attribute_not_found);

    if ((layout.width & kTopBit) != 0 || (layout.height & kTopBit) != 0) {
        fail(file_name, Failure::too_large_image_size);
    }
    if (!photometric_supported(photometric)) {
        fail(file_name, Failure::bad_photometric_interpretation);
    }
    if (directory.read_short_tag(kSamplesPerPixel, 1) > 1) {
        fail(file_name, Failure::too_many_samples_per_pixel);
    }
    return layout;
}

enum class Compressions { strict, open };

// Planar configuration, compression and fill order.
void check_storage(TiffDirectory& directory, const std::string& file_name, ImageLayout& layout,
                   Compressions compressions) {
    if (directory.read_short_tag(kPlanarConfiguration, 1) != 1) {
        fail(file_name, Failure::bad_planar_configuration);
    }
    switch (directory.read_short_tag(kCompression, 1)) {
        case 1:
            layout.compression = Compression::none;
            break;
        case 5:
            layout.compression = Compression::lzw;
            break;
        case 32773:
            layout.compression = Compression::packbits;
            break;
        case 8:      // Deflate,
        case 32946:  // as older writers mark it
            if (compressions == Compressions::open) {
                layout.compression = Compression::deflate;
                break;
            }
            [[fallthrough]];
        default:
            fail(file_name, Failure::unknown_compression);
    }
    switch (directory.read_short_tag(kFillOrder, 1)) {
        case 1:
            layout.fill_reversed = false;
            break;
        case 2:
            layout.fill_reversed = true;
            break;
        default:
            fail(file_name, Failure::bad_fill_order);
    }
}

std::uint16_t differencing_mask(unsigned bits) {
    return static_cast<std::uint16_t>((std::uint32_t{1} << bits) - 1);
}

}  // namespace

ImageLayout check_image_attributes(TiffDirectory& directory, const std::string& file_name) {
    ImageLayout layout = check_geometry(directory, file_name);
    layout.bits_per_sample = directory.read_short_tag(kBitsPerSample, 1);
    if (layout.bits_per_sample > kMaxBitsPerSample) {
        fail(file_name, Failure::too_many_bits_per_sample);
    }
    check_storage(directory, file_name, layout, Compressions::strict);
    switch (directory.read_short_tag(kPredictor, 1)) {
        case 1:
            layout.predictor_mask = 0;
            break;
        case 2:
            layout.predictor_mask = differencing_mask(layout.bits_per_sample);
            break;
        default:
            fail(file_name, Failure::unknown_predictor);
    }
    return layout;
}

ImageLayout check_open_image_attributes(TiffDirectory& directory, const std::string& file_name) {
    ImageLayout layout = check_geometry(directory, file_name);
    layout.bits_per_sample = directory.read_short_tag(kBitsPerSample, 1);
    const std::uint32_t format = directory.read_integer_tag(kSampleFormat, 1);
    const unsigned bits = layout.bits_per_sample;
    if (format == 1) {
        if (bits > kMaxBitsPerSample) fail(file_name, Failure::too_many_bits_per_sample);
    } else if (format == 2 && (bits == 8 || bits == 16)) {
        layout.kind = SampleKind::signed_int;
    } else if (format == 3 && bits == 32) {
        layout.kind = SampleKind::floating;
    } else {
        fail(file_name, Failure::unsupported_sample_format);
    }
    check_storage(directory, file_name, layout, Compressions::open);
    const std::uint16_t predictor = directory.read_short_tag(kPredictor, 1);
    const bool floating = layout.kind == SampleKind::floating;
    if (predictor == 2 && floating) {
        layout.word_differencing = true;
    } else if (predictor == 2) {
        layout.predictor_mask = differencing_mask(bits);
    } else if (predictor == 3 && floating) {
        layout.floating_predictor = true;
    } else if (predictor != 1) {
        fail(file_name, Failure::unknown_predictor);
    }
    return layout;
}

std::optional<std::string> read_description(TiffDirectory& directory,
                                            const std::string& file_name) {
    if (directory.find_tag_entry(kImageDescription) != kAscii) return std::nullopt;
    NumberReader& numbers = directory.numbers();
    std::uint64_t count = directory.read_count();
    if (count > directory.value_field_bytes()) numbers.cursor().seek(directory.read_offset());

    // The text takes count bytes and a terminating NUL: a request that is
    // refused like the allocation would be, though only the text up to its
    // first NUL is kept. Bytes the file does not hold would be zeros, so
    // the text ends there too.
    if (!memory_fits(count + 1, 1)) fail_for_memory(file_name, Failure::description_allocation);
    const InputFile& file = numbers.cursor().file();
    std::uint64_t position = numbers.cursor().position();
    std::string text;
    std::uint8_t chunk[4096];
    while (count > 0) {
        const std::uint64_t got = file.read(
            position,
            {chunk, static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof chunk))});
        // TIFF counts the text's own NUL; the text ends at the first one.
        const std::uint8_t* end = std::find(chunk, chunk + got, std::uint8_t{0});
        text.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(end - chunk));
        if (end != chunk + got || got == 0) break;
        position += got;
        count -= got;
    }
    return text;
}

}  // namespace slabtone
