// Numbers read from text as the GNU C library reads them, on every system,
// so that a run gives the same files and messages everywhere.
#include <cstdlib>

#include "slabtone/slabtone.hpp"

namespace slabtone {

// glibc's atoi converts with a 64-bit strtol, which clamps text beyond 64
// bits, and keeps the low 32 bits of that ("4294967297" is 1). Other C
// libraries clamp to 32 bits; strtoll gives glibc's 64 bits everywhere.
int int_from_text(const char* text) {
    // The conversion to int keeps the low 32 bits (modulo 2^32).
    return static_cast<int>(std::strtoll(text, nullptr, 10));
}

// atof is strtod(text, nullptr): correctly rounded, with hex floats, "inf"
// and "nan" (Windows' own atof rounds otherwise and knows neither).
double double_from_text(const char* text) {
    return std::strtod(text, nullptr);
}

}  // namespace slabtone
