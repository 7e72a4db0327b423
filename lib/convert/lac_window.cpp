#include "convert/lac_window.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

namespace slabtone {

bool same_calibration(const WindowCalibration& a, const WindowCalibration& b) noexcept {
    auto bits = [](double value) { return std::bit_cast<std::uint64_t>(value); };
    return bits(a.lac_scale) == bits(b.lac_scale) &&
           std::bit_cast<std::uint32_t>(a.lac_offset) ==
               std::bit_cast<std::uint32_t>(b.lac_offset) &&
           bits(a.lac_min) == bits(b.lac_min) && bits(a.window_scale) == bits(b.window_scale);
}

std::optional<Rectangle> crop_rectangle(std::uint32_t width, std::uint32_t height,
                                        const std::optional<Crop>& crop) {
    if (!crop) return Rectangle{0, 0, width, height};
    const Crop& c = *crop;
    if (c.x1 < 0 || c.x1 > c.x2 || c.x2 > std::int64_t{width} - 1 || c.y1 < 0 || c.y1 > c.y2 ||
        c.y2 > std::int64_t{height} - 1) {
        return std::nullopt;
    }
    return Rectangle{static_cast<std::uint32_t>(c.x1), static_cast<std::uint32_t>(c.y1),
                     static_cast<std::uint32_t>(c.x2 - c.x1 + 1),
                     static_cast<std::uint32_t>(c.y2 - c.y1 + 1)};
}

std::optional<SampleView> crop_rows(const RowTable& rows, const std::optional<Crop>& crop) {
    const std::optional<Rectangle> r = crop_rectangle(rows.width(), rows.height(), crop);
    if (!r) return std::nullopt;
    return SampleView{rows.row(r->y) + r->x, rows.width(), r->width, r->height};
}

const std::uint8_t* QuantisationTable::for_calibration(const WindowCalibration& calibration) {
    if (!bytes_) {
        bytes_.reset(new (std::nothrow) std::uint8_t[65536]);
        if (!bytes_) return nullptr;
    }
    if (!built_for_ || !same_calibration(*built_for_, calibration)) {
        for (std::uint32_t v = 0; v < 65536; ++v) {
            bytes_[v] = quantise_sample(static_cast<std::uint16_t>(v), calibration);
        }
        built_for_ = calibration;
    }
    return bytes_.get();
}

void quantise_slice(const SampleView& view, const WindowCalibration& calibration,
                    std::span<std::uint8_t> out, QuantisationTable& cache) {
    const std::uint64_t samples = std::uint64_t{view.width} * view.height;
    std::uint8_t* target = out.data();
    // Plain local pointers: a byte store may alias anything, so anything
    // reached through a reference would be loaded again for every sample.
    const std::uint8_t* const table =
        samples < 65536 ? nullptr : cache.for_calibration(calibration);
    if (table == nullptr) {
        for (std::uint32_t r = 0; r < view.height; ++r) {
            const std::uint16_t* row = view.row(r);
            for (std::uint32_t c = 0; c < view.width; ++c) {
                *target++ = quantise_sample(row[c], calibration);
            }
        }
        return;
    }
    const std::uint32_t width = view.width;
    for (std::uint32_t r = 0; r < view.height; ++r) {
        const std::uint16_t* in = view.row(r);
        std::uint8_t* out = target + std::size_t{r} * width;
        std::uint32_t c = 0;
        if constexpr (std::endian::native == std::endian::little) {
            // Four samples per load and four bytes per store: the loads of the
            // table are what remains.
            for (; c + 4 <= width; c += 4) {
                std::uint64_t four = 0;
                std::memcpy(&four, in + c, sizeof four);
                std::uint32_t bytes = 0;
                for (unsigned k = 0; k < 4; ++k) {
                    const auto sample = static_cast<std::uint16_t>(four >> (16 * k));
                    bytes |= std::uint32_t{table[sample]} << (8 * k);
                }
                std::memcpy(out + c, &bytes, sizeof bytes);
            }
        }
        for (; c < width; ++c) out[c] = table[in[c]];
    }
}

// Versions for AVX2 (no FMA: each operation rounds on its own, as the
// scalar code does) and the baseline, chosen when the program loads.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define SLABTONE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define SLABTONE_VECTOR_CLONES
#endif

SLABTONE_VECTOR_CLONES
void quantise_many(const std::uint8_t* in, std::size_t count, const WindowCalibration& c,
                   std::uint8_t* out, float) {
    quantise_samples<float>(in, count, c, out);
}

SLABTONE_VECTOR_CLONES
void quantise_many(const std::uint8_t* in, std::size_t count, const WindowCalibration& c,
                   std::uint8_t* out, std::int16_t) {
    quantise_samples<std::int16_t>(in, count, c, out);
}

}  // namespace slabtone
