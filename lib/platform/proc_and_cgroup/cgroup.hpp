// Where the limits of this process's control group lie: /proc/self/cgroup
// names the group in each hierarchy, /sys/fs/cgroup holds its files. Read
// from a folder laid out like / (tests use fake layouts); only ever read.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace slabtone {

struct CgroupFolders {
    bool v1 = false;  // a controller's own hierarchy, else the unified one
    // The process's group first, then each group above it up to the root
    // of the hierarchy.
    std::vector<std::filesystem::path> way_up;
};

// The folders of the hierarchy that holds `controller` ("memory", "cpu").
// cgroup v1's own hierarchy for the controller is preferred: on a hybrid
// system the unified hierarchy does not have it. nullopt when the process
// is in neither.
std::optional<CgroupFolders> cgroup_folders(const std::filesystem::path& root,
                                            const std::string& controller);

// The whole first line of a file, or nullopt.
std::optional<std::string> read_first_line(const std::filesystem::path& file);

}  // namespace slabtone
