// The run: every slice number of the inclusive range, in increasing order.
//
// Slices are read and converted ahead on worker threads, one per core the
// process may run on, but everything observable happens on the calling
// thread strictly in slice order: each 8-bit file is stored and its progress
// line printed only after every slice before it. When slice k fails, the
// slices before it are stored, k's message is thrown, and no file of a slice
// after k is created or changed.
#pragma once

#include <cstdio>

#include "command_line.hpp"

namespace slabtone {

// Prints a progress line per slice on `out` and "\nfinish\n" at the end.
// Throws SliceError at the first slice that fails; with `end_line_on_failure`
// (`out` is a terminal), a progress line still open is ended first, so that
// the message printed next stands on a line of its own.
void run_slices(const RunParameters& run, std::FILE* out, bool end_line_on_failure = false);

}  // namespace slabtone
