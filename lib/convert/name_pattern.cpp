#include "convert/name_pattern.hpp"

#include <cstdio>
#include <stdexcept>

#include "slabtone/slabtone.hpp"

namespace slabtone {

namespace {

constexpr int kWidestField = 10;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<NamePattern> NamePattern::parse(std::string_view text) {
    NamePattern pattern;
    pattern.text_ = text;
    bool converted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string& literal = converted ? pattern.after_ : pattern.before_;
        if (text[i] != '%') {
            literal += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;  // a lone '%' at the end
        if (text[i] == '%') {
            literal += '%';
            continue;
        }
        if (converted) return std::nullopt;  // a second conversion
        if (text[i] == '0') {
            pattern.zero_padded_ = true;
            ++i;
        }
        int width = 0;
        std::size_t digits = 0;
        for (; i < text.size() && is_digit(text[i]); ++i, ++digits) {
            // More than two digits is past the widest field anyway.
            if (digits == 2) return std::nullopt;
            width = width * 10 + (text[i] - '0');
        }
        // "%00d" would read as a width of 0 after the flag: not a width of
        // 1 to 10.
        if (digits > 0 && (width < 1 || width > kWidestField)) return std::nullopt;
        if (i == text.size() || (text[i] != 'd' && text[i] != 'i')) return std::nullopt;
        pattern.width_ = width;
        converted = true;
    }
    if (!converted) return std::nullopt;
    return pattern;
}

std::string NamePattern::name_of(std::int64_t slice) const {
    char number[32];
    const int length =
        zero_padded_
            ? std::snprintf(number, sizeof number, "%0*lld", width_, static_cast<long long>(slice))
            : std::snprintf(number, sizeof number, "%*lld", width_, static_cast<long long>(slice));
    return name_with(std::string_view(number, static_cast<std::size_t>(length)));
}

std::string NamePattern::name_with(std::string_view number) const {
    std::string name = before_;
    name += number;
    name += after_;
    return name;
}

std::optional<NamePattern> pattern_of_option(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::optional<NamePattern> pattern = NamePattern::parse(text);
    if (!pattern) {
        throw std::invalid_argument("'" + text +
                                    "' is no pattern: " + std::string(*name_pattern_fault(text)));
    }
    return pattern;
}

std::optional<std::string_view> name_pattern_fault(std::string_view pattern) {
    if (NamePattern::parse(pattern)) return std::nullopt;
    return "a pattern holds exactly one %d, %i, %0Nd or %Nd (a width N of 1 to 10), and %% for "
           "a percent sign";
}

}  // namespace slabtone
