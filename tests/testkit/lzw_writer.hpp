// Builds LZW code streams for tests: a bit writer for hand-made streams and
// an encoder whose end code can stand at either width after a widening.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <utility>
#include <vector>

namespace slabtone::test {

// Codes most significant bit first, the first at the top of the first byte.
class BitWriter {
  public:
    BitWriter& put(unsigned code, unsigned width) {
        for (unsigned k = width; k-- > 0;) {
            if (bits_ % 8 == 0) bytes_.push_back(0);
            if ((code >> k) & 1u) bytes_.back() |= std::uint8_t(0x80u >> (bits_ % 8));
            ++bits_;
        }
        return *this;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::size_t bits() const { return bits_; }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t bits_ = 0;
};

// The width the decoder reads a code at, when next_code stands at `next`.
inline unsigned lzw_width(unsigned next) {
    return next < 511 ? 9 : next < 1023 ? 10 : next < 2047 ? 11 : 12;
}

enum class EndWidth {
    narrow,  // right after a widening, the end code at the old width
    wide,    // always at the current width, as libtiff writes it
};

inline void PrintTo(EndWidth w, std::ostream* os) {
    *os << (w == EndWidth::narrow ? "narrow" : "wide");
}

struct LzwEncoding {
    std::vector<std::uint8_t> bytes;
    bool ended_after_widening = false;  // the end code's width was a choice
};

// TIFF LZW of `data`: a clear code first, a clear code whenever the table
// would reach `clear_at`, the end code last.
inline LzwEncoding lzw_encode(const std::vector<std::uint8_t>& data, EndWidth end_width,
                              unsigned clear_at = 4094) {
    BitWriter out;
    std::map<std::pair<unsigned, unsigned>, unsigned> table;
    unsigned emitted = 0;  // data codes since the last clear
    auto width_now = [&] { return emitted == 0 ? 9u : lzw_width(258 + emitted - 1); };
    out.put(256, 9);
    LzwEncoding result;
    if (data.empty()) {
        out.put(257, 9);
        result.bytes = out.bytes();
        return result;
    }
    unsigned prefix = data[0];
    for (std::size_t i = 1; i < data.size(); ++i) {
        auto key = std::make_pair(prefix, unsigned(data[i]));
        auto found = table.find(key);
        if (found != table.end()) {
            prefix = found->second;
            continue;
        }
        out.put(prefix, width_now());
        table[key] = 258 + emitted;
        ++emitted;
        prefix = data[i];
        if (258 + emitted - 1 >= clear_at) {
            out.put(256, width_now());
            table.clear();
            emitted = 0;
        }
    }
    out.put(prefix, width_now());
    ++emitted;
    const unsigned next = 258 + emitted - 1;
    unsigned width = lzw_width(next);
    result.ended_after_widening = next == 511 || next == 1023 || next == 2047;
    if (result.ended_after_widening && end_width == EndWidth::narrow) --width;
    out.put(257, width);
    result.bytes = out.bytes();
    return result;
}

}  // namespace slabtone::test
