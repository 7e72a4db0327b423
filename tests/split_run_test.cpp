// A stack split into sub-ranges run at once by GNU parallel, as
// docs/cluster.md runs it on many machines, gives the files of one run.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "convert/slice_conversion.hpp"
#include "testkit/libtiff_files.hpp"
#include "testkit/run_program.hpp"
#include "testkit/temp_folder.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;

// 40 slices; every tenth (1, 11, 21, 31) carries all eight fields, the
// others some of them: the record passes from slice to slice.
void write_split_stack(const TempFolder& folder) {
    for (int slice = 1; slice <= 40; ++slice) {
        LibtiffImage image;
        image.width = 64;
        image.height = 48;
        image.compression = slice % 3 == 0 ? 5 : 1;
        const int block = (slice - 1) / 10;
        char record[128];
        if (slice % 10 == 1) {
            std::snprintf(record, sizeof record, "%d\t0.5\t%d\t-0.%d\t25\t3600\t32.5\t0.1", slice,
                          1000 + 100 * block, block + 1);
        } else {
            std::snprintf(record, sizeof record, "%d\t0.%d", slice, slice);
        }
        image.description = record;
        image.samples = phantom_samples(64, 48, 16, std::uint32_t(slice), true);
        write_with_libtiff(folder.file(input_name(slice)), image);
    }
}

TEST(SplitRun, SubRangesRunAtOnceGiveTheFilesOfOneRun) {
    TempFolder whole;
    TempFolder split;
    write_split_stack(whole);
    write_split_stack(split);
    const ProgramResult one = run_slabtone({"1", "40", "0", "4"}, whole.path());
    ASSERT_EQ(one.exit_status, 0) << one.err;

    // Four sub-ranges at once, each beginning where all eight fields stand.
    const ProgramResult parallel =
        run_program("/usr/bin/parallel",
                    {"--will-cite", "-j", "4", "--halt", "soon,fail=1",
                     SLABTONE_BINARY " {} {= $_ += 9 =} 0 4", ":::", "1", "11", "21", "31"},
                    split.path());
    ASSERT_EQ(parallel.exit_status, 0) << parallel.err;
    for (int slice = 1; slice <= 40; ++slice) {
        const std::string name = output_name(slice);
        EXPECT_EQ(read_file(split.file(name)), read_file(whole.file(name))) << name;
    }

    // A sub-range that begins where the calibration is not: it stops there.
    fs::remove(split.file(output_name(6)));
    const ProgramResult broken = run_slabtone({"6", "10", "0", "4"}, split.path());
    EXPECT_EQ(broken.exit_status, 1);
    EXPECT_EQ(broken.err, "rec0006.tif : calibration not found in image description.\n");
    EXPECT_FALSE(fs::exists(split.file(output_name(6))));
}

}  // namespace
}  // namespace slabtone::test
