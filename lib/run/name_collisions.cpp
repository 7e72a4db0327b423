#include "run/name_collisions.hpp"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_set>

#include "common/failure.hpp"
#include "platform/files.hpp"

namespace slabtone {

namespace {

std::string plain(const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string();
}

// Which slice of the range, if any, an input path names. A slice number
// never holds a separator or a dot, so making the pattern plain with a
// stand-in for the number, then reading the number back from a plain path,
// finds it without listing every input name of the range.
class InputNames {
  public:
    InputNames(const StackFolder& folder, std::int64_t first, std::int64_t last)
        : folder_(folder), first_(first), last_(last) {
        const NamePattern input =
            folder.names().input ? *folder.names().input : *NamePattern::parse("rec%04d.tif");
        const std::string marked = plain(folder.path_of(input.name_with("\x01")));
        const std::size_t mark = marked.find('\x01');
        if (mark == std::string::npos) {
            // The number's part of the path went ("d%d/../x.tif"): every
            // slice reads the same file.
            same_for_all_ = plain(folder.path_of(input.name_of(first)));
        } else {
            before_ = marked.substr(0, mark);
            after_ = marked.substr(mark + 1);
        }
    }

    bool names_an_input(const std::string& path) const {
        if (same_for_all_) return path == *same_for_all_;
        if (path.size() < before_.size() + after_.size() ||
            path.compare(0, before_.size(), before_) != 0 ||
            path.compare(path.size() - after_.size(), after_.size(), after_) != 0) {
            return false;
        }
        const std::string number =
            path.substr(before_.size(), path.size() - before_.size() - after_.size());
        if (number.empty()) return false;
        const long long slice = std::strtoll(number.c_str(), nullptr, 10);
        return slice >= first_ && slice <= last_ && plain(folder_.input_path(slice)) == path;
    }

  private:
    const StackFolder& folder_;
    std::int64_t first_;
    std::int64_t last_;
    std::optional<std::string> same_for_all_;
    std::string before_;
    std::string after_;
};

struct IdentityHash {
    std::size_t operator()(const FileIdentity& identity) const noexcept {
        return std::hash<std::uint64_t>{}(identity.device * 0x9E3779B97F4A7C15ull ^
                                          identity.number);
    }
};

}  // namespace

void check_outputs_spare_inputs(const StackFolder& folder, std::int64_t first, std::int64_t last) {
    if (first > last) return;
    const InputNames inputs(folder, first, last);
    // The files the inputs are, taken only once an output exists already.
    std::optional<std::unordered_set<FileIdentity, IdentityHash>> input_files;
    for (std::int64_t slice = first; slice <= last; ++slice) {
        const std::string output = folder.path_of(folder.output_name(slice));
        bool replaces = inputs.names_an_input(plain(output));
        if (!replaces) {
            if (const std::optional<FileIdentity> existing = file_identity(output)) {
                if (!input_files) {
                    input_files.emplace();
                    for (std::int64_t input = first; input <= last; ++input) {
                        if (auto file = file_identity(folder.input_path(input))) {
                            input_files->insert(*file);
                        }
                    }
                }
                replaces = input_files->count(*existing) != 0;
            }
        }
        if (replaces) fail(folder.input_name(slice), Failure::output_replaces_input);
    }
}

}  // namespace slabtone
