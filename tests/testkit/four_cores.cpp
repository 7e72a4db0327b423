// Linked into a test build of slabtone, which then runs as on a machine of
// four cores, whatever this one has: the "every core" side of the tests
// that compare a run with workers against a run on one core starts its
// workers on any machine.
#include "platform/cores.hpp"

namespace {

const bool g_four_cores = [] {
    slabtone::force_usable_cores(4);
    return true;
}();

}  // namespace
