// slabtone-window sta_ly dst_ly [low high] [--svg FILE] [--html FILE] [--show a,b,...]
//                 [--plane X,Y] [--inside-circle] [--input PATTERN]
//                 [--calibration SCALE OFFSET]
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/stack_options.hpp"

namespace slabtone {

inline constexpr std::string_view kWindowUsage =
    "usage : slabtone-window sta_ly dst_ly [low high] [--svg FILE] [--html FILE] "
    "[--show a,b,...] [--plane X,Y] [--inside-circle]\n";

// What --help prints: the usage, then the options that name and calibrate
// a stack.
std::string window_help_text();

struct WindowParameters {
    std::int32_t sta_ly = 0;
    std::int32_t dst_ly = 0;
    double low = 0.5;  // percentile, 0 <= low < high <= 100
    double high = 99.5;
    std::optional<std::string> svg_path;
    std::optional<std::string> html_path;
    // The slices the page shows: given, or the first, the middle and the
    // last of the range (each once).
    std::vector<std::int64_t> show;
    // Count only the samples inside each slice's reconstruction circle.
    bool inside_circle = false;
    // Where the page's two planes across the slices cut them (column X,
    // row Y); by default the middle of the smallest slice.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> plane;
    // --input and --calibration.
    StackOptions stack;
};

// The parameters, or nullopt for a wrong argument count, a percentage that
// is not a number in range, an option given twice or without its value, or
// a slice to show that is not a whole number inside the range, or slices
// to show without a page to show them on. Slice
// numbers are read as slabtone reads them (atoi); a percentage must be a
// number and nothing else. A wrong --input or --calibration also gives
// nullopt, with the line to print in `fault` instead of the usage.
std::optional<WindowParameters> parse_window_command_line(int argc, const char* const* argv,
                                                          std::string* fault = nullptr);

}  // namespace slabtone
