// What the byte-at-a-time and the bulk LZW decoder share: the codes and
// widths of the format, and the end of a strip.
//
// Compression 5, LZW (TIFF 6.0 section 13): codes of 9 to 12 bits, most
// significant bit first; 256 clears the table, 257 ends the strip, and each
// data code after the first makes a table entry from 258 on. The code width
// grows one code early: when the next entry to make reaches 511, 1023 and
// 2047.
//
// A strip ends in an optional clear code and the end code. Right after the
// entry that widened the codes (next_code 511, 1023 or 2047) two writers
// disagree: the strict reading of the format puts the end at the old,
// narrower width, while libtiff writes it at the new, wider one. Both forms
// are taken, the narrower first; each is the same sequence at its own width
// (a code at that width; after a clear code, a code of 9 bits; the end code
// if that is 257).
#pragma once

#include <optional>

#include "common/failure.hpp"

namespace slabtone {

namespace lzw {

inline constexpr unsigned kClearCode = 256;
inline constexpr unsigned kEndCode = 257;
inline constexpr unsigned kFirstEntry = 258;
inline constexpr unsigned kTableSize = 4096;
inline constexpr unsigned kFirstWidth = 9;
inline constexpr unsigned kMaxWidth = 12;

// The next entry at which codes of `width` bits grow one bit wider.
constexpr unsigned widens_at(unsigned width) noexcept {
    return (1u << width) - 1;
}

enum class Form { ended, other_code, ran_out };

// `take(width, code)` takes the next code of `width` bits into `code`, or
// returns false when the strip has run out of bytes.
template <class Take>
Form read_form(unsigned width, Take& take) {
    unsigned code = 0;
    if (!take(width, code)) return Form::ran_out;
    if (code == kClearCode && !take(kFirstWidth, code)) return Form::ran_out;
    return code == kEndCode ? Form::ended : Form::other_code;
}

}  // namespace lzw

// Reads the end of a strip whose codes are `width` bits wide, leaving the
// reader right after the end code of the form that matched; nullopt then.
// Otherwise the failure: "too few codes" only when every form tried ran out
// of bytes. `rewind()` puts the reader back where this call began.
template <class Take, class Rewind>
std::optional<Failure> read_lzw_end(unsigned width, bool just_widened, Take take, Rewind rewind) {
    using lzw::Form;
    const Form narrow = lzw::read_form(just_widened ? width - 1 : width, take);
    if (narrow == Form::ended) return std::nullopt;
    bool all_ran_out = narrow == Form::ran_out;
    if (just_widened) {
        rewind();
        const Form wide = lzw::read_form(width, take);
        if (wide == Form::ended) return std::nullopt;
        all_ran_out = all_ran_out && wide == Form::ran_out;
    }
    return all_ran_out ? Failure::lzw_too_few_codes : Failure::lzw_missing_end;
}

}  // namespace slabtone
