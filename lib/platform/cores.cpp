#include "platform/cores.hpp"

#include <atomic>

namespace slabtone {

namespace {

std::atomic<unsigned> g_forced_cores{0};  // 0: ask the system

}  // namespace

void force_usable_cores(std::optional<unsigned> cores) noexcept {
    g_forced_cores.store(cores ? *cores : 0);
}

unsigned usable_cores() {
    const unsigned forced = g_forced_cores.load();
    return forced > 0 ? forced : cores_of_process();
}

}  // namespace slabtone
