// The end of an LZW strip, shared by the byte-at-a-time and the bulk
// decoder.
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

namespace lzw_end {

inline constexpr unsigned kClearCode = 256;
inline constexpr unsigned kEndCode = 257;

enum class Form { ended, other_code, ran_out };

// `take(width, code)` takes the next code of `width` bits into `code`, or
// returns false when the strip has run out of bytes.
template <class Take>
Form read_form(unsigned width, Take& take) {
    unsigned code = 0;
    if (!take(width, code)) return Form::ran_out;
    if (code == kClearCode && !take(9u, code)) return Form::ran_out;
    return code == kEndCode ? Form::ended : Form::other_code;
}

}  // namespace lzw_end

// Reads the end of a strip whose codes are `width` bits wide, leaving the
// reader right after the end code of the form that matched; nullopt then.
// Otherwise the failure: "too few codes" only when every form tried ran out
// of bytes. `rewind()` puts the reader back where this call began.
template <class Take, class Rewind>
std::optional<Failure> read_lzw_end(unsigned width, bool just_widened, Take take, Rewind rewind) {
    using lzw_end::Form;
    const Form narrow = lzw_end::read_form(just_widened ? width - 1 : width, take);
    if (narrow == Form::ended) return std::nullopt;
    bool all_ran_out = narrow == Form::ran_out;
    if (just_widened) {
        rewind();
        const Form wide = lzw_end::read_form(width, take);
        if (wide == Form::ended) return std::nullopt;
        all_ran_out = all_ran_out && wide == Form::ran_out;
    }
    return all_ran_out ? Failure::lzw_too_few_codes : Failure::lzw_missing_end;
}

}  // namespace slabtone
