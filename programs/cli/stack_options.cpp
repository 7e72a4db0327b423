#include "cli/stack_options.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace slabtone {

namespace {

// The pieces one after the other. (Built by appending: GCC 12 warns
// wrongly about "text" + std::string(...) with optimisation.)
std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (const std::string_view piece : pieces) text += piece;
    return text;
}

// The whole text one number, converted as the record's field of that
// precision is: field 3 ("%lf") to double with strtod, field 4 ("%f")
// straight to single precision with strtof.
template <class Number, Number (*convert)(const char*, char**)>
std::optional<Number> whole_number(const char* text) {
    char* end = nullptr;
    const Number value = convert(text, &end);
    if (end == text || *end != '\0' || std::strchr(" \t\n\v\f\r", text[0]) != nullptr) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

bool StackOptionReader::wrong(std::string_view option, std::string_view what) {
    if (!fault_) {
        fault_ = joined({program_, " : ", option, " : ", what, "\n"});
    }
    return true;
}

bool StackOptionReader::take(int argc, const char* const* argv, int& i) {
    const std::string_view option = argv[i];
    const int left = argc - i - 1;  // arguments after the option
    if (option == "--input" || (takes_output_ && option == "--output")) {
        const bool input = option == "--input";
        bool& seen = input ? seen_input_ : seen_output_;
        if (seen) return wrong(option, "given twice.");
        seen = true;
        if (left < 1) return wrong(option, "PATTERN is missing.");
        const char* pattern = argv[i + 1];
        i += 2;
        if (const auto fault = name_pattern_fault(pattern)) {
            return wrong(option, joined({"'", pattern, "' is no PATTERN: ", *fault, "."}));
        }
        (input ? options_.input_pattern : options_.output_pattern) = pattern;
        return true;
    }
    if (option == "--calibration") {
        if (seen_calibration_) return wrong(option, "given twice.");
        seen_calibration_ = true;
        if (left < 2) return wrong(option, "SCALE and OFFSET are missing.");
        const char* scale_text = argv[i + 1];
        const char* offset_text = argv[i + 2];
        i += 3;
        const std::optional<double> scale = whole_number<double, std::strtod>(scale_text);
        if (!scale || *scale == 0) {
            return wrong(option,
                         joined({"SCALE '", scale_text, "' must be a number other than 0."}));
        }
        const std::optional<float> offset = whole_number<float, std::strtof>(offset_text);
        if (!offset) {
            return wrong(option, joined({"OFFSET '", offset_text, "' must be a number."}));
        }
        options_.calibration = Calibration{*scale, *offset};
        return true;
    }
    return false;
}

}  // namespace slabtone
