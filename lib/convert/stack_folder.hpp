// Where a run's slices lie. Slices are named by number alone; the folder is
// put before the name only to open or store the file, never in a message,
// so that a run in a folder prints what a run started in that folder does.
#pragma once

#include <string>

namespace slabtone {

class StackFolder {
  public:
    // The working folder.
    StackFolder() = default;
    explicit StackFolder(const std::string& folder) : prefix_(folder) {
        if (!prefix_.empty() && prefix_.back() != '/' && prefix_.back() != '\\') prefix_ += '/';
    }

    std::string path_of(const std::string& name) const { return prefix_ + name; }

  private:
    std::string prefix_;  // empty, or the folder and a separator
};

}  // namespace slabtone
