// SHA-256 (FIPS 180-4), for the page's Content-Security-Policy: the browser
// runs the page's own script and style because their hashes are named.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace slabtone {

std::array<std::uint8_t, 32> sha256(std::string_view bytes);

}  // namespace slabtone
