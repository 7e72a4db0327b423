// --version and --help, for both programs. They are options only as the
// sole argument: every other command line is read as it always was, so a
// run that worked before still does, and "slabtone --version 1" is a wrong
// command line.
#pragma once

#include <optional>
#include <string_view>

namespace slabtone {

// Answers --version ("slabtone 1.3.0", for both programs) or --help (with
// `usage`) on standard output: the exit status; nullopt for any other
// command line.
std::optional<int> answer_sole_option(int argc, const char* const* argv, std::string_view usage);

}  // namespace slabtone
