// Runs of a stack in this process, compared whole: the files, the standard
// output, the message and the status.
#pragma once

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/failure.hpp"
#include "common/memory_pool.hpp"
#include "convert/slice_conversion.hpp"
#include "platform/cores.hpp"
#include "platform/worker_threads.hpp"
#include "slabtone/slabtone.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/slice_files.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

struct RunOutcome {
    int status = 0;
    int signal = 0;
    std::string out;
    std::string err;
    std::map<std::string, Bytes> files;

    bool operator==(const RunOutcome&) const = default;
};

inline void PrintTo(const RunOutcome& o, std::ostream* os) {
    *os << "status " << o.status << " signal " << o.signal << ", " << o.files.size()
        << " files, err \"" << o.err << "\"";
}

// Takes the ro files out of the folder into the outcome.
inline void collect_outputs(const std::string& folder, RunOutcome& outcome) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("rec", 0) == 0) continue;
        outcome.files[name] = read_file(entry.path().string());
        std::filesystem::remove(entry.path());
    }
}

// Four slices whose record passes from slice to slice (slice 2 supplies two
// fields and keeps slice 1's calibration), in every compression; slice 3
// twice as high as the others when `large_third`.
inline void write_stack(const TempFolder& folder, std::uint32_t size, bool large_third) {
    const char* records[] = {"5\t0.1\t1000\t-0.5\t1\t2\t3\t4", "6\t0.2", "7\t0.3\t800\t-0.25", "8"};
    const std::uint16_t compressions[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_NONE,
                                          COMPRESSION_PACKBITS};
    for (std::uint32_t i = 0; i < 4; ++i) {
        LibtiffImage image;
        image.width = size;
        image.height = i == 2 && large_third ? 2 * size : size;
        image.compression = compressions[i];
        image.rows_per_strip = i == 1 ? 16 : 0;
        image.description = records[i];
        image.samples = phantom_samples(image.width, image.height, 16, i + 1, true);
        write_with_libtiff(folder.file(input_name(i + 1)), image);
    }
}

inline std::string progress(int slice) {
    return input_name(slice) + "(16bit) -> " + output_name(slice) + "(8bit)\r";
}

// Runs of the library's conversion in this process, in a folder of their
// own, with standard output as the program prints it. Workers run as on a
// machine of four cores, whatever this one has.
class InProcessRunTest : public ::testing::Test {
  protected:
    void SetUp() override { force_usable_cores(4); }
    void TearDown() override {
        force_usable_cores(std::nullopt);
        set_memory_budget(std::nullopt);
        limit_thread_starts(std::nullopt);
        refuse_shared_request(std::nullopt);
    }

    RunOutcome run(std::int32_t first, std::int32_t last) {
        ConvertRequest request;
        request.first = first;
        request.last = last;
        request.lac_min = 0;
        request.lac_max = 60;
        request.folder = folder_.path();
        RunOutcome outcome;
        try {
            convert_range(request, [&](const StoredSlice& stored) {
                outcome.out += progress(static_cast<int>(stored.number));
            });
            outcome.out += "\nfinish\n";
        } catch (const SliceError& error) {
            outcome.status = 1;
            outcome.err = error.what();
        }
        collect_outputs(folder_.path(), outcome);
        // Everything a run took is given back.
        EXPECT_EQ(memory_held(), 0u);
        return outcome;
    }

    TempFolder folder_;
};

}  // namespace slabtone::test
