// Whole runs of the program in a scratch folder: what every test of a run
// needs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "convert/slice_conversion.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/run_program.hpp"
#include "testkit/slice_files.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {

// The progress line of one slice, as the program writes it.
inline std::string progress(int slice) {
    char line[64];
    std::snprintf(line, sizeof line, "rec%04d.tif(16bit) -> ro%04d.tif(8bit)\r", slice, slice);
    return line;
}

inline std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ProgramTest : public ::testing::Test {
  protected:
    void put_slice(int slice, const std::vector<std::uint8_t>& bytes) {
        const std::string name = input_name(slice);
        write_file(folder_.file(name), bytes);
    }
    void put_example(int slice) { put_slice(slice, slice_of(kExampleSamples, 3, kExampleRecord)); }
    std::vector<std::uint8_t> expected_example(std::uint32_t width = 3, std::uint32_t height = 2,
                                               std::vector<std::uint8_t> bytes = kExampleBytes) {
        return expected_output_file(scratch_.file("expected.tif"), bytes, width, height,
                                    kExampleOutputRecord);
    }
    ProgramResult run(const std::vector<std::string>& arguments,
                      const std::function<void()>& before_exec = nullptr) {
        return run_slabtone(arguments, folder_.path(), before_exec);
    }

    TempFolder folder_;
    TempFolder scratch_;
};

}  // namespace slabtone::test
