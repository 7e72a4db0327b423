// The platform headers pass files as plain ints. A Windows kernel handle
// fits one: 64-bit Windows keeps handles within 32 bits so that 32- and
// 64-bit processes can share them, and documents that truncating and
// sign-extending them is safe. INVALID_HANDLE_VALUE becomes -1.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace slabtone {

inline int handle_number(HANDLE handle) noexcept {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}

inline HANDLE handle_of(int number) noexcept {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(number));
}

// A name from the command line (or made from one) as the wide string that
// the W functions take. main's arguments come in the ANSI code page, so the
// name is converted back from it: the file opened is the one the user named.
std::wstring wide_name(const std::string& name);

}  // namespace slabtone
