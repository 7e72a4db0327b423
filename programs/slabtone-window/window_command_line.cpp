#include "slabtone-window/window_command_line.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "cli/stack_options.hpp"
#include "slabtone/slabtone.hpp"

namespace slabtone {

namespace {

std::optional<double> percentage(const char* text) {
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

// "4,120,7": whole numbers separated by commas, nothing else.
std::optional<std::vector<std::int64_t>> slice_list(const char* text) {
    std::vector<std::int64_t> slices;
    const char* at = text;
    for (;;) {
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(at, &end, 10);
        if (end == at || errno != 0 || *at == ' ' || *at == '+' ||
            value < std::numeric_limits<std::int32_t>::min() ||
            value > std::numeric_limits<std::int32_t>::max()) {
            return std::nullopt;
        }
        slices.push_back(value);
        if (*end == '\0') return slices;
        if (*end != ',') return std::nullopt;
        at = end + 1;
    }
}

}  // namespace

std::string window_help_text() {
    std::string text(kWindowUsage);
    text += "options for stacks named or calibrated otherwise:\n";
    text += kStackOptionsHelp;
    text += kPatternHelp;
    return text;
}

std::optional<WindowParameters> parse_window_command_line(int argc, const char* const* argv,
                                                          std::string* fault) {
    WindowParameters parameters;
    std::vector<const char*> positional;
    std::optional<std::vector<std::int64_t>> show;
    StackOptionReader stack("slabtone-window", false);
    for (int i = 1; i < argc; ++i) {
        if (int next = i; stack.take(argc, argv, next)) {
            if (stack.fault()) {
                if (fault != nullptr) *fault = *stack.fault();
                return std::nullopt;
            }
            i = next - 1;
            continue;
        }
        if (std::strcmp(argv[i], "--inside-circle") == 0) {
            if (parameters.inside_circle) return std::nullopt;
            parameters.inside_circle = true;
            continue;
        }
        const bool svg = std::strcmp(argv[i], "--svg") == 0;
        const bool html = std::strcmp(argv[i], "--html") == 0;
        const bool shown = std::strcmp(argv[i], "--show") == 0;
        const bool plane = std::strcmp(argv[i], "--plane") == 0;
        if (!svg && !html && !shown && !plane) {
            positional.push_back(argv[i]);
            continue;
        }
        if (i + 1 >= argc) return std::nullopt;
        const char* value = argv[++i];
        if (svg) {
            if (parameters.svg_path) return std::nullopt;
            parameters.svg_path = value;
        } else if (html) {
            if (parameters.html_path) return std::nullopt;
            parameters.html_path = value;
        } else if (plane) {
            const std::optional<std::vector<std::int64_t>> at = slice_list(value);
            if (parameters.plane || !at || at->size() != 2 || (*at)[0] < 0 || (*at)[1] < 0) {
                return std::nullopt;
            }
            parameters.plane = std::make_pair(static_cast<std::uint32_t>((*at)[0]),
                                              static_cast<std::uint32_t>((*at)[1]));
        } else {
            if (show) return std::nullopt;
            show = slice_list(value);
            if (!show) return std::nullopt;
        }
    }
    if (positional.size() != 2 && positional.size() != 4) return std::nullopt;
    parameters.sta_ly = int_from_text(positional[0]);
    parameters.dst_ly = int_from_text(positional[1]);
    if (positional.size() == 4) {
        std::optional<double> low = percentage(positional[2]);
        std::optional<double> high = percentage(positional[3]);
        if (!low || !high || *low < 0 || *low >= *high || *high > 100) return std::nullopt;
        parameters.low = *low;
        parameters.high = *high;
    }
    parameters.stack = stack.options();
    const std::int64_t first = parameters.sta_ly;
    const std::int64_t last = parameters.dst_ly;
    // The slices to show go on the page: without one, asking for them is a
    // mistake to tell, not to pass over.
    if ((show || parameters.plane) && !parameters.html_path) return std::nullopt;
    if (show) {
        for (std::int64_t slice : *show) {
            if (slice < first || slice > last) return std::nullopt;
            if (std::find(parameters.show.begin(), parameters.show.end(), slice) ==
                parameters.show.end()) {
                parameters.show.push_back(slice);
            }
        }
    } else if (first <= last) {
        for (std::int64_t slice : {first, first + (last - first) / 2, last}) {
            if (parameters.show.empty() || parameters.show.back() != slice) {
                parameters.show.push_back(slice);
            }
        }
    }
    return parameters;
}

}  // namespace slabtone
