// Slice file names formed from a pattern and the slice number, as other
// reconstruction programs name their slices: "recon_%05d.tiff",
// "slice-%05i.tif", "recon/recon_%05d.tiff".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace slabtone {

// A pattern holds exactly one conversion of the number: '%', an optional
// '0' flag, an optional width of 1 to 10, then 'd' or 'i'; "%%" stands for
// a percent sign. The number is formatted as C's printf formats an int with
// that conversion, negative numbers included.
class NamePattern {
  public:
    // nullopt when `text` is not such a pattern.
    static std::optional<NamePattern> parse(std::string_view text);

    std::string name_of(std::int64_t slice) const;
    // The name with `number` in the place of the formatted number.
    std::string name_with(std::string_view number) const;
    const std::string& text() const noexcept { return text_; }

  private:
    std::string text_;
    std::string before_;  // "%%" already made "%"
    std::string after_;
    bool zero_padded_ = false;
    int width_ = 0;
};

// The pattern of an option's text; nullopt for an empty one (the default
// names). Throws std::invalid_argument, with what is wrong, for text that is
// no pattern.
std::optional<NamePattern> pattern_of_option(const std::string& text);

}  // namespace slabtone
