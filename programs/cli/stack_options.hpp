// --input PATTERN, --output PATTERN and --calibration SCALE OFFSET: how a
// run reads a stack that other reconstruction programs named and calibrated
// otherwise. Only these exact words are options; every other argument keeps
// its meaning.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "slabtone/slabtone.hpp"

namespace slabtone {

struct StackOptions {
    std::string input_pattern;   // empty: rec%04d.tif
    std::string output_pattern;  // empty: ro%04d.tif
    std::optional<Calibration> calibration;
};

class StackOptionReader {
  public:
    // `program` begins the lines of wrong options; slabtone-window writes no
    // slices and takes no --output.
    StackOptionReader(std::string_view program, bool takes_output)
        : program_(program), takes_output_(takes_output) {}

    // When argv[i] is one of the options, takes it and its values and moves
    // i past them; false, changing nothing, for any other argument. After
    // a wrong option, fault() holds the line to print.
    bool take(int argc, const char* const* argv, int& i);

    const std::optional<std::string>& fault() const noexcept { return fault_; }
    const StackOptions& options() const noexcept { return options_; }

  private:
    bool wrong(std::string_view option, std::string_view what);

    std::string_view program_;
    bool takes_output_;
    bool seen_input_ = false;
    bool seen_output_ = false;
    bool seen_calibration_ = false;
    StackOptions options_;
    std::optional<std::string> fault_;
};

// The options' lines of --help.
inline constexpr std::string_view kStackOptionsHelp =
    "  --input PATTERN       read slice n from PATTERN's name for n (default rec%04d.tif)\n"
    "  --calibration SCALE OFFSET\n"
    "                        LAC = sample / SCALE + OFFSET for every slice, instead of\n"
    "                        the calibration its description carries\n";
inline constexpr std::string_view kOutputOptionHelp =
    "  --output PATTERN      write slice n to PATTERN's name for n (default ro%04d.tif)\n";
inline constexpr std::string_view kPatternHelp =
    "A PATTERN holds one %d, %i, %0Nd or %Nd (N from 1 to 10), and %% for a percent sign:\n"
    "recon_%05d.tiff, slice-%05i.tif, recon/recon_%05d.tiff.\n";

}  // namespace slabtone
