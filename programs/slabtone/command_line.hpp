// slabtone sta_ly dst_ly LACmin LACmax [x1 y1 x2 y2]
#pragma once

#include <string_view>
#include <variant>

#include "slabtone/slabtone.hpp"

namespace slabtone {

inline constexpr std::string_view kUsageTooFew =
    "usage : slabtone sta_ly dst_ly LACmin LACmax (x1 y1 x2 y2)\n";
inline constexpr std::string_view kUsageCount =
    "usage : slabtone sta_ly dst_ly LACmin LACmax x1 y1 x2 y2\n";

// The conversion the command line asks for (in the working folder), or the
// usage line to print. Numbers follow the C library's atoi and atof
// (int_from_text, double_from_text): nothing is rejected, text that is no
// number counts as 0.
std::variant<ConvertRequest, std::string_view> parse_command_line(int argc,
                                                                  const char* const* argv);

}  // namespace slabtone
