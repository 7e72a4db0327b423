// Samples from their stored bits, shared by both readers: packed samples
// unpacked, and horizontal differencing (predictor 2) undone.
#pragma once

#include <cstdint>

namespace slabtone {

// Predictor 2 stores each sample as the difference from its left neighbour,
// modulo 2^bits.
inline void undo_differencing(std::uint16_t* row, std::uint32_t width, std::uint16_t mask) {
    for (std::uint32_t i = 1; i < width; ++i) {
        row[i] = static_cast<std::uint16_t>((row[i] + row[i - 1]) & mask);
    }
}

// Packed samples, most significant bit first, from one row's bytes. Every
// row starts on a byte boundary: the unused bits of its last byte are
// dropped. `next` yields the row's bytes one by one.
template <class NextByte>
void unpack_row(NextByte&& next, std::uint16_t* row, std::uint32_t width, unsigned bits) {
    std::uint32_t byte = 0;
    unsigned bits_left = 0;
    for (std::uint32_t i = 0; i < width; ++i) {
        std::uint32_t sample = 0;
        for (unsigned k = 0; k < bits; ++k) {
            if (bits_left == 0) {
                byte = next() & 0xFFu;
                bits_left = 8;
            }
            --bits_left;
            sample = (sample << 1) | ((byte >> bits_left) & 1u);
        }
        row[i] = static_cast<std::uint16_t>(sample);
    }
}

}  // namespace slabtone
