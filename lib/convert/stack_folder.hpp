// Where a run's slices lie and how they are named. Slices are named by
// number, "rec%04d.tif" and "ro%04d.tif" unless the run gives patterns; the
// folder is put before the name only to open or store the file, never in a
// message, so that a run in a folder prints what a run started in that
// folder does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "convert/name_pattern.hpp"
#include "slabtone/slabtone.hpp"

namespace slabtone {

struct SliceNames {
    std::optional<NamePattern> input;   // nullopt: rec%04d.tif
    std::optional<NamePattern> output;  // nullopt: ro%04d.tif
    // Whether the slices are read with the open reader (a conversion named
    // by an input pattern) rather than the strict one.
    bool open_reader = false;

    bool patterned() const noexcept { return input || output; }
};

// The names of a run's options (empty texts: the defaults); a stack named
// by an input pattern is read with the open reader. Throws
// std::invalid_argument for a text that is no pattern.
inline SliceNames slice_names_of(const std::string& input, const std::string& output) {
    SliceNames names{pattern_of_option(input), pattern_of_option(output)};
    names.open_reader = names.input.has_value();
    return names;
}

class StackFolder {
  public:
    // The working folder.
    StackFolder() = default;
    explicit StackFolder(const std::string& folder, SliceNames names = {})
        : prefix_(folder), names_(std::move(names)) {
        if (!prefix_.empty() && prefix_.back() != '/' && prefix_.back() != '\\') prefix_ += '/';
    }

    std::string path_of(const std::string& name) const { return prefix_ + name; }

    std::string input_name(std::int64_t slice) const {
        return names_.input ? names_.input->name_of(slice) : slabtone::input_name(slice);
    }
    std::string output_name(std::int64_t slice) const {
        return names_.output ? names_.output->name_of(slice) : slabtone::output_name(slice);
    }
    std::string input_path(std::int64_t slice) const { return path_of(input_name(slice)); }
    const SliceNames& names() const noexcept { return names_; }

  private:
    std::string prefix_;  // empty, or the folder and a separator
    SliceNames names_;
};

}  // namespace slabtone
