#include "command_line.hpp"

#include <cstdio>
#include <cstring>

#include "number_text.hpp"

namespace slabtone {

std::optional<int> answer_sole_option(int argc, const char* const* argv, std::string_view usage) {
    if (argc != 2) return std::nullopt;
    std::string_view answer;
    if (std::strcmp(argv[1], "--version") == 0) answer = kVersionLine;
    if (std::strcmp(argv[1], "--help") == 0) answer = usage;
    if (answer.empty()) return std::nullopt;
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    return 0;
}

std::variant<RunParameters, std::string_view> parse_command_line(int argc,
                                                                 const char* const* argv) {
    const int arguments = argc - 1;
    if (arguments < 4) return kUsageTooFew;
    if (arguments != 4 && arguments != 8) return kUsageCount;

    RunParameters run;
    run.sta_ly = int_from_text(argv[1]);
    run.dst_ly = int_from_text(argv[2]);
    run.lac_min = double_from_text(argv[3]);
    run.lac_max = double_from_text(argv[4]);
    if (arguments == 8) {
        run.crop = CropRectangle{int_from_text(argv[5]), int_from_text(argv[6]),
                                 int_from_text(argv[7]), int_from_text(argv[8])};
    }
    run.window_scale = 255.0 / (run.lac_max - run.lac_min);
    return run;
}

}  // namespace slabtone
