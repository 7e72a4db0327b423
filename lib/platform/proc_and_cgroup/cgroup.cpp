#include "platform/proc_and_cgroup/cgroup.hpp"

#include <fstream>
#include <sstream>

namespace slabtone {

namespace fs = std::filesystem;

std::optional<CgroupFolders> cgroup_folders(const fs::path& root, const std::string& controller) {
    // "ID:controller,controller:/path" for cgroup v1, "0::/path" for v2.
    std::ifstream in(root / "proc/self/cgroup");
    std::string line;
    std::optional<std::pair<fs::path, std::string>> found;
    bool v1 = false;
    while (std::getline(in, line)) {
        const auto first = line.find(':');
        const auto second = line.find(':', first == std::string::npos ? 0 : first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            if (!v1) found.emplace(root / "sys/fs/cgroup", path);
            continue;
        }
        std::istringstream list(controllers);
        std::string name;
        while (std::getline(list, name, ',')) {
            if (name == controller) {
                found.emplace(root / "sys/fs/cgroup" / controller, path);
                v1 = true;
            }
        }
    }
    if (!found) return std::nullopt;
    const auto& [base, path] = *found;
    // In a cgroup namespace the process's own group is the mounted root,
    // and its path does not exist below it.
    fs::path relative = fs::path(path).relative_path();
    std::error_code error;
    if (!fs::is_directory(base / relative, error)) relative.clear();
    CgroupFolders folders;
    folders.v1 = v1;
    for (;;) {
        folders.way_up.push_back(base / relative);
        if (relative.empty()) break;
        relative = relative.has_parent_path() ? relative.parent_path() : fs::path();
    }
    return folders;
}

std::optional<std::string> read_first_line(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    return line;
}

}  // namespace slabtone
