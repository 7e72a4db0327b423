#include "number_text.hpp"

#include <cstdlib>

namespace slabtone {

int int_from_text(const char* text) {
    // The conversion to int keeps the low 32 bits (modulo 2^32).
    return static_cast<int>(std::strtoll(text, nullptr, 10));
}

double double_from_text(const char* text) {
    return std::strtod(text, nullptr);
}

}  // namespace slabtone
