#include "slabtone/slabtone.hpp"

#include <io.h>
#include <windows.h>

namespace slabtone {

// _isatty also says yes for NUL and other character devices; only a
// console has a console mode.
bool is_terminal(std::FILE* stream) noexcept {
    const int fd = ::_fileno(stream);
    if (fd < 0) return false;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace slabtone
