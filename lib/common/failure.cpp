#include "common/failure.hpp"

#include <array>
#include <utility>

namespace slabtone {

namespace {

// Indexed by Failure; the order must follow the enumeration.
constexpr std::array<std::string_view, 45> kTexts = {
    "file not found.",
    "bad magic number.",
    "primary image attribute not found.",
    "too large image size.",
    "bad photometric interpretation.",
    "too many samples per pixel.",
    "too many bits per sample.",
    "bad planar configuration.",
    "unknown image compression method.",
    "bad fill order.",
    "unknown differencing predictor.",
    "unsupported sample format.",
    "image description memory allocation error.",
    "cell memory allocation error.",
    "bad rows per strip.",
    "strip offset memory allocation error.",
    "bad number of strip offset.",
    "strip offset not found.",
    "strip bytes count memory allocation error.",
    "bad number of strip bytes count.",
    "strip bytes count not found.",
    "too few codes.",
    "too many codes.",
    "MPB too few codes.",
    "MPB too many codes.",
    "LZW too few codes.",
    "LZW missing first clear code.",
    "LZW unexpected end of code.",
    "LZW unknown code after clear code.",
    "LZW too large code.",
    "LZW too long string.",
    "LZW code table overflow.",
    "LZW missing end of codes.",
    "LZW too many codes.",
    "Deflate data error.",
    "Deflate too few codes.",
    "Deflate too many codes.",
    "calibration not found in image description.",
    "crop rectangle outside the image.",
    "8-bit image memory allocation error.",
    "cannot write file.",
    "image size differs from the first slice.",
    "sample format differs from the first slice.",
    "no sample with a LAC value in the range.",
    "output would replace an input.",
};
static_assert(kTexts.size() == static_cast<std::size_t>(kLastFailure) + 1);

}  // namespace

std::string_view failure_text(Failure failure) {
    return kTexts[static_cast<std::size_t>(failure)];
}

std::optional<Failure> failure_of(const SliceError& error) noexcept {
    for (std::size_t i = 0; i < kTexts.size(); ++i) {
        if (kTexts[i] == error.message()) return static_cast<Failure>(i);
    }
    return std::nullopt;
}

SliceError::SliceError(std::string file_name, std::string_view message)
    : file_name_(std::move(file_name)), message_(message) {
    line_ = file_name_;
    line_ += " : ";
    line_ += message_;
}

void fail(const std::string& file_name, Failure failure) {
    throw SliceError(file_name, failure_text(failure));
}

void fail_for_memory(const std::string& file_name, Failure failure) {
    throw MemoryShortage(file_name, failure);
}

}  // namespace slabtone
