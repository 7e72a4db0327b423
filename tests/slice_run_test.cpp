// A run's outcome (files, standard output, messages, exit status) is that of
// a run on one core, whatever the cores, the memory there is, or the worker
// threads that could be started.
#include <gtest/gtest.h>

#include <cstdint>

#include "testkit/slice_run_fixture.hpp"
#include "testkit/test_hooks.hpp"

namespace slabtone::test {
namespace {

TEST_F(InProcessRunTest, WorkersRunWhateverTheMachine) {
    // The fixture's four cores start workers even on a machine of one: the
    // comparisons below run with workers everywhere.
    write_stack(folder_, 96, true);
    const unsigned long long before = worker_threads_started();
    const RunOutcome four = run(1, 4);
    EXPECT_GT(worker_threads_started(), before);
    // One core starts none, and converts the same.
    const ScopedUsableCores one_core(1);
    const unsigned long long after = worker_threads_started();
    EXPECT_EQ(run(1, 4), four);
    EXPECT_EQ(worker_threads_started(), after);
}

TEST_F(InProcessRunTest, WorkersThatCannotStartChangeNothing) {
    write_stack(folder_, 96, true);
    const RunOutcome every = run(1, 4);
    ASSERT_EQ(every.status, 0) << every.err;
    ASSERT_EQ(every.files.size(), 4u);
    for (unsigned starts : {0u, 1u}) {
        limit_thread_starts(starts);
        EXPECT_EQ(run(1, 4), every) << starts << " threads";
    }
    // A slice that fails, with others in flight.
    write_file(folder_.file(input_name(3)), Bytes{'I', 'I', 42, 0});
    limit_thread_starts(std::nullopt);
    const RunOutcome failing = run(1, 4);
    EXPECT_EQ(failing.err, "rec0003.tif : primary image attribute not found.");
    EXPECT_EQ(failing.files.size(), 2u);
    limit_thread_starts(0);
    EXPECT_EQ(run(1, 4), failing);
}

TEST_F(InProcessRunTest, ASliceWithoutRoomBesideOthersIsConvertedAlone) {
    // 1024 x 1024 slices take about 4.3 MB each; with 8 MB, the workers
    // hold one at a time and meet a shortage whenever a second starts.
    write_stack(folder_, 1024, false);
    const RunOutcome roomy = run(1, 4);
    ASSERT_EQ(roomy.status, 0) << roomy.err;
    set_memory_budget(8 * kMiB);
    EXPECT_EQ(run(1, 4), roomy);
    limit_thread_starts(1);
    EXPECT_EQ(run(1, 4), roomy);
}

TEST_F(InProcessRunTest, ARequestRefusedInAWorkerChangesNothing) {
    // Whichever request of a worker fails (the rows, a strip, the 8-bit
    // image, the file), the slice is converted again alone, and no
    // temporary file stays behind (it would show among the files).
    write_stack(folder_, 256, true);
    const RunOutcome roomy = run(1, 4);
    ASSERT_EQ(roomy.status, 0) << roomy.err;
    for (std::uint64_t n = 1; n <= 16; ++n) {
        refuse_shared_request(n);
        EXPECT_EQ(run(1, 4), roomy) << "request " << n;
    }
}

TEST_F(InProcessRunTest, OnlyASliceThatFailsAloneFailsTheRun) {
    // Slice 3 (1024 x 2048) needs 4 MB of rows and a 2 MB 8-bit image even
    // alone; 5 MB holds either, not both.
    write_stack(folder_, 1024, true);
    const RunOutcome roomy = run(1, 4);
    ASSERT_EQ(roomy.status, 0) << roomy.err;
    set_memory_budget(5 * kMiB);
    RunOutcome expected;
    expected.status = 1;
    expected.out = progress(1) + progress(2);
    expected.err = "ro0003.tif : 8-bit image memory allocation error.";
    expected.files = {{"ro0001.tif", roomy.files.at("ro0001.tif")},
                      {"ro0002.tif", roomy.files.at("ro0002.tif")}};
    EXPECT_EQ(run(1, 4), expected);
    limit_thread_starts(0);
    EXPECT_EQ(run(1, 4), expected);
}

}  // namespace
}  // namespace slabtone::test
