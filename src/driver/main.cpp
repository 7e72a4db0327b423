// slabtone: converts a stack of 16-bit CT slices (rec%04d.tif) into 8-bit
// slices (ro%04d.tif) through a window of linear attenuation coefficients.
#include <cstdio>
#include <exception>
#include <variant>

#include "atomic_file.hpp"
#include "command_line.hpp"
#include "failure.hpp"
#include "memory_pool.hpp"
#include "slice_loop.hpp"
#include "terminal.hpp"

int main(int argc, char** argv) {
    slabtone::settle_process_memory();
    slabtone::let_writes_fail_past_size_limit();
    if (auto status = slabtone::answer_sole_option(argc, argv, slabtone::kUsageTooFew)) {
        return *status;
    }
    auto parsed = slabtone::parse_command_line(argc, argv);
    if (const auto* usage = std::get_if<std::string_view>(&parsed)) {
        std::fwrite(usage->data(), 1, usage->size(), stderr);
        return 1;
    }
    try {
        // On a terminal a failure's message gets a line of its own; into a
        // pipe or a file every byte stays as it always was.
        slabtone::run_slices(std::get<slabtone::RunParameters>(parsed), stdout,
                             slabtone::is_terminal(stdout));
    } catch (const slabtone::SliceError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        // Not expected: every failure of a slice is a SliceError.
        std::fflush(stdout);
        std::fprintf(stderr, "slabtone : %s\n", error.what());
        return 1;
    }
    return 0;
}
