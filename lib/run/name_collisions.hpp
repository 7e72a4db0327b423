// Names formed from patterns can make a slice's output the input of a slice
// of the same range ("--input 'r%d.tif' --output 'r1%d.tif'": slice 1
// would write slice 11's input). Such a run must not start.
#pragma once

#include <cstdint>

#include "convert/stack_folder.hpp"

namespace slabtone {

// Throws SliceError("<input name> : output would replace an input.") for the
// first slice of first..last, in order, whose output names an input of the
// range: the same path once both are made plain ("./a" is "a", "d/../a" is
// "a"), or another path to the same existing file (a link). Reads and
// writes nothing.
void check_outputs_spare_inputs(const StackFolder& folder, std::int64_t first, std::int64_t last);

}  // namespace slabtone
