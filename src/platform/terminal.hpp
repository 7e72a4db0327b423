// Whether a standard stream is a terminal: progress lines that overwrite
// themselves are for a person watching, not for a file or a pipe.
#pragma once

#include <cstdio>

namespace slabtone {

bool is_terminal(std::FILE* stream) noexcept;

}  // namespace slabtone
