// slabtone-window sta_ly dst_ly [low high] [--svg FILE]
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace slabtone {

inline constexpr std::string_view kWindowUsage =
    "usage : slabtone-window sta_ly dst_ly [low high] [--svg FILE]\n";

struct WindowParameters {
    std::int32_t sta_ly = 0;
    std::int32_t dst_ly = 0;
    double low = 0.5;  // percentile, 0 <= low < high <= 100
    double high = 99.5;
    std::optional<std::string> svg_path;
};

// The parameters, or nullopt for a wrong argument count or a percentage
// that is not a number in range. Slice numbers are read as slabtone reads
// them (atoi); a percentage must be a number and nothing else.
std::optional<WindowParameters> parse_window_command_line(int argc, const char* const* argv);

}  // namespace slabtone
