// One pass over a stack as slabtone-window's first pass makes it: every
// slice read and decoded on every core, its values counted. bench/floats
// sets slabtone-window's two passes against it.
//
// Usage: read-once PATTERN FIRST LAST
#include <cstdio>
#include <cstdlib>

#include "slabtone/measurement.hpp"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage : read-once PATTERN FIRST LAST\n", stderr);
        return 1;
    }
    slabtone::settle_process_memory();
    slabtone::MeasureRequest request;
    request.input_pattern = argv[1];
    request.first = std::atoi(argv[2]);
    request.last = std::atoi(argv[3]);
    try {
        const slabtone::StackMeasurement measured = slabtone::measure_range(request);
        std::printf("%d slices\n", request.last - request.first + 1);
    } catch (const slabtone::SliceError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
