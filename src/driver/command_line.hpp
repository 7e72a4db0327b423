// slabtone sta_ly dst_ly LACmin LACmax [x1 y1 x2 y2]
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

namespace slabtone {

inline constexpr std::string_view kUsageTooFew =
    "usage : slabtone sta_ly dst_ly LACmin LACmax (x1 y1 x2 y2)\n";
inline constexpr std::string_view kUsageCount =
    "usage : slabtone sta_ly dst_ly LACmin LACmax x1 y1 x2 y2\n";

// What --version prints, for both programs.
inline constexpr std::string_view kVersionLine = "slabtone " SLABTONE_VERSION "\n";

// --version and --help are options only as the sole argument: every other
// command line is read as it always was, so a run that worked before still
// does, and "slabtone --version 1" is a wrong command line.
// Answers --version or --help on standard output (the latter with `usage`):
// the exit status; nullopt for any other command line.
std::optional<int> answer_sole_option(int argc, const char* const* argv, std::string_view usage);

// Zero-based, inclusive; checked against each slice when it is cut.
struct CropRectangle {
    std::int32_t x1 = 0;
    std::int32_t y1 = 0;
    std::int32_t x2 = 0;
    std::int32_t y2 = 0;
};

struct RunParameters {
    std::int32_t sta_ly = 0;
    std::int32_t dst_ly = 0;  // inclusive
    double lac_min = 0;
    double lac_max = 0;
    std::optional<CropRectangle> crop;
    // 255 / (LACmax - LACmin), once per run; no test is made on the window.
    double window_scale = 0;
};

// The run's parameters, or the usage line to print. Numbers follow the C
// library's atoi and atof: leading blanks are skipped, conversion stops at
// the first character that cannot continue the number, and text that is no
// number counts as 0.
std::variant<RunParameters, std::string_view> parse_command_line(int argc, const char* const* argv);

}  // namespace slabtone
