// Stores a file so that its name never shows an incomplete file: the bytes go
// to a temporary file in the same folder, which is renamed onto the name once
// written and closed. An earlier file of that name stays untouched until the
// rename replaces it whole.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace slabtone {

// False when the file could not be stored; the temporary file is then gone.
// The new file gets the permission bits of a plainly created file (0666 less
// the umask). SIGINT, SIGTERM and SIGHUP remove the temporary file before
// they end the process.
bool store_file_atomically(const std::string& name, std::span<const std::uint8_t> bytes);

}  // namespace slabtone
