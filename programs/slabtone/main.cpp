// slabtone: converts a stack of 16-bit CT slices (rec%04d.tif) into 8-bit
// slices (ro%04d.tif) through a window of linear attenuation coefficients.
//
// Standard output: "rec0001.tif(16bit) -> ro0001.tif(8bit)\r" once each
// slice is stored, then "\nfinish\n". A failure prints "<file> : <message>"
// on standard error and ends with status 1; the slices before it are
// stored.
#include <cstdio>
#include <exception>
#include <variant>

#include "cli/sole_option.hpp"
#include "slabtone/command_line.hpp"
#include "slabtone/slabtone.hpp"

int main(int argc, char** argv) {
    using namespace slabtone;
    settle_process_memory();
    let_writes_fail_past_size_limit();
    remove_temporary_file_on_interrupt();
    if (auto status = answer_sole_option(argc, argv, help_text())) return *status;
    auto parsed = parse_command_line(argc, argv);
    if (const auto* usage = std::get_if<std::string>(&parsed)) {
        std::fwrite(usage->data(), 1, usage->size(), stderr);
        return 1;
    }
    // On a terminal a failure's message gets a line of its own; into a pipe
    // or a file every byte stays as it always was.
    const bool end_line_on_failure = is_terminal(stdout);
    bool line_open = false;
    try {
        convert_range(std::get<ConvertRequest>(parsed), [&](const StoredSlice& stored) {
            std::printf("%s(%s) -> %s(8bit)\r", stored.input_name.c_str(),
                        stored.float_samples ? "32bit float" : "16bit", stored.output_name.c_str());
            // The line ends in a carriage return only: flush it so that a
            // terminal shows each slice as it is done.
            std::fflush(stdout);
            line_open = true;
        });
    } catch (const std::exception& error) {
        if (end_line_on_failure && line_open) std::fputc('\n', stdout);
        std::fflush(stdout);
        if (dynamic_cast<const SliceError*>(&error) != nullptr) {
            std::fprintf(stderr, "%s\n", error.what());
        } else {
            // Not expected: every failure of a slice is a SliceError.
            std::fprintf(stderr, "slabtone : %s\n", error.what());
        }
        return 1;
    }
    std::printf("\nfinish\n");
    return 0;
}
