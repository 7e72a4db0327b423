#include "window_command_line.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace slabtone {

namespace {

std::optional<double> percentage(const char* text) {
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<WindowParameters> parse_window_command_line(int argc, const char* const* argv) {
    WindowParameters parameters;
    std::vector<const char*> positional;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--svg") == 0) {
            if (i + 1 >= argc || parameters.svg_path) return std::nullopt;
            parameters.svg_path = argv[++i];
        } else {
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() != 2 && positional.size() != 4) return std::nullopt;
    parameters.sta_ly = std::atoi(positional[0]);
    parameters.dst_ly = std::atoi(positional[1]);
    if (positional.size() == 4) {
        std::optional<double> low = percentage(positional[2]);
        std::optional<double> high = percentage(positional[3]);
        if (!low || !high || *low < 0 || *low >= *high || *high > 100) return std::nullopt;
        parameters.low = *low;
        parameters.high = *high;
    }
    return parameters;
}

}  // namespace slabtone
