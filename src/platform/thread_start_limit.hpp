// The count of thread starts a test may allow (limit_thread_starts), kept
// for every system's WorkerThreads.
#pragma once

namespace slabtone {

// Takes one start from the allowance; false when none is left.
bool may_start_thread() noexcept;

}  // namespace slabtone
