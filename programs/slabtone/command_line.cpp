#include "slabtone/command_line.hpp"

#include "cli/stack_options.hpp"

namespace slabtone {

std::string help_text() {
    std::string text(kUsageTooFew);
    text += "options, before sta_ly:\n";
    text += kStackOptionsHelp.substr(0, kStackOptionsHelp.find("  --calibration"));
    text += kOutputOptionHelp;
    text += kStackOptionsHelp.substr(kStackOptionsHelp.find("  --calibration"));
    text += kPatternHelp;
    return text;
}

std::variant<ConvertRequest, std::string> parse_command_line(int argc, const char* const* argv) {
    StackOptionReader options("slabtone", true);
    int i = 1;
    while (i < argc && options.take(argc, argv, i)) {
        if (options.fault()) return *options.fault();
    }
    const int arguments = argc - i;
    if (arguments < 4) return std::string(kUsageTooFew);
    if (arguments != 4 && arguments != 8) return std::string(kUsageCount);
    const char* const* numbers = argv + i - 1;  // numbers[1] is sta_ly

    ConvertRequest request;
    request.first = int_from_text(numbers[1]);
    request.last = int_from_text(numbers[2]);
    request.lac_min = double_from_text(numbers[3]);
    request.lac_max = double_from_text(numbers[4]);
    if (arguments == 8) {
        request.crop = Crop{int_from_text(numbers[5]), int_from_text(numbers[6]),
                            int_from_text(numbers[7]), int_from_text(numbers[8])};
    }
    request.input_pattern = options.options().input_pattern;
    request.output_pattern = options.options().output_pattern;
    request.calibration = options.options().calibration;
    return request;
}

}  // namespace slabtone
