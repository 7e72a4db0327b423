#include "slabtone/slabtone.hpp"

#include <unistd.h>

namespace slabtone {

bool is_terminal(std::FILE* stream) noexcept {
    const int fd = ::fileno(stream);
    return fd >= 0 && ::isatty(fd) == 1;
}

}  // namespace slabtone
