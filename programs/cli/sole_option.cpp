#include "cli/sole_option.hpp"

#include <cstdio>
#include <cstring>
#include <string>

#include "slabtone/slabtone.hpp"

namespace slabtone {

std::optional<int> answer_sole_option(int argc, const char* const* argv, std::string_view usage) {
    if (argc != 2) return std::nullopt;
    std::string answer;
    if (std::strcmp(argv[1], "--version") == 0) {
        answer = "slabtone ";
        answer += version();
        answer += '\n';
    }
    if (std::strcmp(argv[1], "--help") == 0) answer = usage;
    if (answer.empty()) return std::nullopt;
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    return 0;
}

}  // namespace slabtone
