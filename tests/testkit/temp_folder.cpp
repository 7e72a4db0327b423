#include "testkit/temp_folder.hpp"

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

namespace slabtone::test {

TempFolder::TempFolder() {
    // A new folder of a name no other test has, for its owner alone (as
    // mkdtemp makes it), on every system.
    namespace fs = std::filesystem;
    static std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "slabtone-test-%012llx",
                      static_cast<unsigned long long>(random() & 0xffffffffffffULL));
        const fs::path path = fs::temp_directory_path() / name;
        if (fs::create_directory(path)) {
            fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
            path_ = path.string();
            return;
        }
    }
    throw std::runtime_error("no new temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace slabtone::test
