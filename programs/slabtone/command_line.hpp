// slabtone [--input PATTERN] [--output PATTERN] [--calibration SCALE OFFSET]
//          sta_ly dst_ly LACmin LACmax [x1 y1 x2 y2]
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "slabtone/slabtone.hpp"

namespace slabtone {

inline constexpr std::string_view kUsageTooFew =
    "usage : slabtone sta_ly dst_ly LACmin LACmax (x1 y1 x2 y2)\n";
inline constexpr std::string_view kUsageCount =
    "usage : slabtone sta_ly dst_ly LACmin LACmax x1 y1 x2 y2\n";

// What --help prints: the usage line and the options.
std::string help_text();

// The conversion the command line asks for (in the working folder), or the
// line to print on standard error: a usage line, or what is wrong with an
// option. The options come before the numbers. Numbers follow the C
// library's atoi and atof (int_from_text, double_from_text): nothing is
// rejected, text that is no number counts as 0.
std::variant<ConvertRequest, std::string> parse_command_line(int argc, const char* const* argv);

}  // namespace slabtone
