#include <cstdlib>

#include "testkit/run_program.hpp"

namespace slabtone::test {

std::string slabtone_binary() {
    // A copy elsewhere, when the tests are to run a binary that lies where
    // they are told.
    const char* copy = std::getenv("SLABTONE_TEST_BINARY");
    return copy != nullptr && *copy != '\0' ? copy : SLABTONE_BINARY_PATH;
}

ProgramResult run_slabtone(const std::vector<std::string>& arguments, const std::string& folder,
                           const std::function<void()>& before_exec) {
    return run_program(slabtone_binary(), arguments, folder, before_exec);
}

}  // namespace slabtone::test
