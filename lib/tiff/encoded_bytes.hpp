// The encoded bytes of a strip as the decoders read them, in the bit order
// that FillOrder gives: with FillOrder 2 each stored byte is reversed before
// a decoder looks at it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tiff/input_file.hpp"

namespace slabtone {

constexpr std::array<std::uint8_t, 256> make_bit_reversal_table() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        unsigned reversed = 0;
        for (unsigned bit = 0; bit < 8; ++bit) reversed |= ((value >> bit) & 1u) << (7 - bit);
        table[value] = static_cast<std::uint8_t>(reversed);
    }
    return table;
}

inline constexpr std::array<std::uint8_t, 256> kReversedBits = make_bit_reversal_table();

// The `count` bytes at `from` with their bits reversed, into `to` (which may
// be `from`).
inline void reverse_bits(const std::uint8_t* from, std::size_t count, std::uint8_t* to) noexcept {
    for (std::size_t i = 0; i < count; ++i) to[i] = kReversedBits[from[i]];
}

class EncodedBytes {
  public:
    EncodedBytes(const InputFile& file, bool reversed) noexcept
        : cursor_(file), reversed_(reversed) {}

    void seek(std::uint64_t position) noexcept { cursor_.seek(position); }
    std::uint64_t position() const noexcept { return cursor_.position(); }
    bool reversed() const noexcept { return reversed_; }
    const InputFile& file() const noexcept { return cursor_.file(); }

    // The next stored byte, or -1 past the end of the file. Reversing the
    // bits of a missing byte (all ones in its low eight bits) gives 255.
    int take() noexcept {
        int value = cursor_.next();
        if (!reversed_) return value;
        return value < 0 ? 255 : kReversedBits[static_cast<unsigned>(value)];
    }

  private:
    FileCursor cursor_;
    bool reversed_;
};

}  // namespace slabtone
