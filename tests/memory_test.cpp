// The memory a run may take: limits read from folders laid out like /proc
// and /sys, the number of workers chosen from them, and the pool that
// counts what slices hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/memory_pool.hpp"
#include "platform/memory_limits.hpp"
#include "run/worker_count.hpp"
#include "testkit/temp_folder.hpp"
#include "testkit/test_hooks.hpp"
#include "tiff/gray_tiff.hpp"

namespace slabtone::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

struct LimitsCase {
    const char* name;
    std::map<std::string, std::string> files;  // path under the root -> contents
    std::optional<std::uint64_t> cgroup_limit;
    std::optional<std::uint64_t> cgroup_room;
};

void PrintTo(const LimitsCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kMeminfo =
    "MemTotal:       16777216 kB\nMemFree:         1000 kB\nMemAvailable:    8388608 kB\n";
const std::string kStatus = "Name:\tslabtone\nVmPeak:\t   20000 kB\nVmSize:\t   12288 kB\n";

const LimitsCase kLimitCases[] = {
    {"v2_limit_above_the_process_counts",
     {{"proc/self/cgroup", "0::/user.slice/run\n"},
      {"sys/fs/cgroup/memory.current", "999999999\n"},  // the root has no limit
      {"sys/fs/cgroup/user.slice/memory.max", "1073741824\n"},
      {"sys/fs/cgroup/user.slice/memory.current", "209715200\n"},
      // Page cache that is given back on demand is no usage.
      {"sys/fs/cgroup/user.slice/memory.stat",
       "anon 1000\nfile 150000000\nactive_file 30000000\ninactive_file 104857600\n"},
      {"sys/fs/cgroup/user.slice/run/memory.max", "max\n"},
      {"sys/fs/cgroup/user.slice/run/memory.current", "104857600\n"}},
     1024 * kMiB,
     1024 * kMiB - 100 * kMiB},
    {"v2_smallest_room_of_the_way_up",
     {{"proc/self/cgroup", "0::/a/b\n"},
      {"sys/fs/cgroup/a/memory.max", "1073741824\n"},
      {"sys/fs/cgroup/a/memory.current", "1048576000\n"},
      {"sys/fs/cgroup/a/b/memory.max", "536870912\n"},
      {"sys/fs/cgroup/a/b/memory.current", "10485760\n"}},
     512 * kMiB,
     1024 * kMiB - 1000 * kMiB},
    {"v2_namespace_sees_its_own_cgroup_as_root",
     {{"proc/self/cgroup", "0::/elsewhere/job\n"},
      {"sys/fs/cgroup/memory.max", "268435456\n"},
      {"sys/fs/cgroup/memory.current", "67108864\n"}},
     256 * kMiB,
     192 * kMiB},
    {"v1_memory_controller",
     {{"proc/self/cgroup", "9:pids:/x\n4:memory:/docker/abc\n0::/\n"},
      {"sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"},
      {"sys/fs/cgroup/memory/docker/abc/memory.limit_in_bytes", "536870912\n"},
      {"sys/fs/cgroup/memory/docker/abc/memory.usage_in_bytes", "104857600\n"},
      {"sys/fs/cgroup/memory/docker/abc/memory.stat",
       "inactive_file 1\ntotal_inactive_file 52428800\n"},
      {"sys/fs/cgroup/memory.max", "1048576\n"}},  // a v2 file the v1 controller overrides
     512 * kMiB,
     462 * kMiB},
    {"v1_unlimited",
     {{"proc/self/cgroup", "3:cpu,memory:/\n"},
      {"sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"}},
     std::nullopt,
     std::nullopt},
    {"no_cgroup_files", {}, std::nullopt, std::nullopt},
};

class LimitsTest : public ::testing::TestWithParam<LimitsCase> {};

TEST_P(LimitsTest, ReadFromFilesLaidOutLikeProcAndSys) {
    TempFolder root;
    std::map<std::string, std::string> files = GetParam().files;
    files["proc/meminfo"] = kMeminfo;
    files["proc/self/status"] = kStatus;
    for (const auto& [path, contents] : files) {
        const fs::path file = fs::path(root.path()) / path;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << contents;
    }
    const MemoryLimits limits = read_memory_limits(root.path());
    EXPECT_EQ(limits.cgroup_limit, GetParam().cgroup_limit);
    EXPECT_EQ(limits.cgroup_room, GetParam().cgroup_room);
    EXPECT_EQ(limits.physical, 16 * 1024 * kMiB);
    EXPECT_EQ(limits.available, 8 * 1024 * kMiB);
    EXPECT_EQ(limits.mapped, 12 * kMiB);
    EXPECT_EQ(limits.address_space, std::nullopt);  // not a file
}

INSTANTIATE_TEST_SUITE_P(Layouts, LimitsTest, ::testing::ValuesIn(kLimitCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct QuotaCase {
    const char* name;
    std::map<std::string, std::string> files;
    std::optional<unsigned> cores;
};

void PrintTo(const QuotaCase& c, std::ostream* os) {
    *os << c.name;
}

const QuotaCase kQuotaCases[] = {
    {"v2_one_and_a_half_cpus_keep_two_busy",
     {{"proc/self/cgroup", "0::/job\n"}, {"sys/fs/cgroup/job/cpu.max", "150000 100000\n"}},
     2},
    {"v2_max_is_no_quota",
     {{"proc/self/cgroup", "0::/job\n"}, {"sys/fs/cgroup/job/cpu.max", "max 100000\n"}},
     std::nullopt},
    {"v2_smallest_of_the_way_up",
     {{"proc/self/cgroup", "0::/a/b\n"},
      {"sys/fs/cgroup/a/cpu.max", "200000 100000\n"},
      {"sys/fs/cgroup/a/b/cpu.max", "800000 100000\n"}},
     2},
    {"v2_less_than_one_cpu_is_one",
     {{"proc/self/cgroup", "0::/\n"}, {"sys/fs/cgroup/cpu.max", "50000 100000\n"}},
     1},
    {"v1_cfs_quota",
     {{"proc/self/cgroup", "5:cpu,cpuacct:/docker/abc\n4:memory:/docker/abc\n0::/\n"},
      {"sys/fs/cgroup/cpu/docker/abc/cpu.cfs_quota_us", "300000\n"},
      {"sys/fs/cgroup/cpu/docker/abc/cpu.cfs_period_us", "100000\n"},
      {"sys/fs/cgroup/cpu/cpu.cfs_quota_us", "-1\n"},
      {"sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n"},
      {"sys/fs/cgroup/cpu.max", "100000 100000\n"}},  // v2 files the v1 controller overrides
     3},
    {"v1_no_quota",
     {{"proc/self/cgroup", "5:cpu,cpuacct:/\n"},
      {"sys/fs/cgroup/cpu/cpu.cfs_quota_us", "-1\n"},
      {"sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n"}},
     std::nullopt},
    {"no_cgroup_files", {}, std::nullopt},
};

class QuotaTest : public ::testing::TestWithParam<QuotaCase> {};

TEST_P(QuotaTest, CoresFromFilesLaidOutLikeProcAndSys) {
    TempFolder root;
    for (const auto& [path, contents] : GetParam().files) {
        const fs::path file = fs::path(root.path()) / path;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << contents;
    }
    EXPECT_EQ(cpu_quota_cores(root.path()), GetParam().cores);
}

INSTANTIATE_TEST_SUITE_P(Layouts, QuotaTest, ::testing::ValuesIn(kQuotaCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WorkerCount, SizesNearTwoToThe32DoNotWrapIntoSmallNeeds) {
    SliceShape shape;
    shape.width = 0xFFFFFFFFu;
    shape.height = 0xFFFFFFFFu;
    shape.bits_per_sample = 12;
    shape.compression = Compression::lzw;
    shape.file_size = ~std::uint64_t{0} - 5;
    EXPECT_EQ(shape.reading_need(), ~std::uint64_t{0});
    MemoryLimits limits;
    limits.available = 64 * kMiB;
    EXPECT_EQ(workers_that_fit(shape.reading_need(), limits, 8, 100), 1u);
    EXPECT_EQ(workers_for_descriptors(3), 1u);
    EXPECT_EQ(workers_for_descriptors(1), 0u);
}

TEST(WorkerCount, FitsTheSmallestRoomAndNeverFewerThanOne) {
    const std::uint64_t each = 100 * kMiB;
    const std::uint64_t worker = each + worker_overhead();
    MemoryLimits limits;
    limits.available = 10 * worker;
    // Cores, then slices, bound the count.
    EXPECT_EQ(workers_that_fit(each, limits, 8, 1000), 8u);
    EXPECT_EQ(workers_that_fit(each, limits, 8, 3), 3u);
    EXPECT_EQ(workers_that_fit(each, limits, 64, 1000), 10u);
    // Each limit in turn is the smallest.
    limits.cgroup_room = 4 * worker + 1;
    EXPECT_EQ(workers_that_fit(each, limits, 64, 1000), 4u);
    limits.address_space = 12 * kMiB + 2 * worker;
    limits.mapped = 12 * kMiB;
    EXPECT_EQ(workers_that_fit(each, limits, 64, 1000), 2u);
    limits.address_space = 12 * kMiB;  // no room at all: still one
    EXPECT_EQ(workers_that_fit(each, limits, 64, 1000), 1u);
    // What they hold together stays within the smallest room as well.
    limits.address_space = std::nullopt;
    EXPECT_EQ(shared_capacity(limits, 2, 1000 * worker), 4 * worker + 1);
    EXPECT_EQ(shared_capacity(limits, 2, 3 * worker), 3 * worker - 2 * worker_overhead());
}

TEST(MemoryPool, BuffersCountWhatTheyHoldAndRefuseWhatDoesNotFit) {
    const ScopedMemoryBudget budget(10 * kMiB);
    const std::uint64_t before = memory_held();
    {
        PooledBuffer a;
        ASSERT_TRUE(a.reserve(6 * kMiB));
        EXPECT_EQ(memory_held(), before + 6 * kMiB);
        PooledBuffer b;
        EXPECT_FALSE(b.reserve(5 * kMiB));  // 11 MiB would not fit
        EXPECT_EQ(b.data(), nullptr);
        // Growing without keeping gives the old storage back first.
        ASSERT_TRUE(a.reserve(9 * kMiB));
        EXPECT_EQ(memory_held(), before + 9 * kMiB);
        // Keeping bytes needs old and new at once.
        a.data()[0] = 42;
        EXPECT_FALSE(a.reserve(10 * kMiB - before, 1));
        EXPECT_EQ(a.data()[0], 42);
        PooledBuffer c = std::move(a);
        EXPECT_EQ(a.data(), nullptr);
        EXPECT_EQ(memory_held(), before + 9 * kMiB);
    }
    EXPECT_EQ(memory_held(), before);
}

}  // namespace
}  // namespace slabtone::test
