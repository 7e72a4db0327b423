// Ctrl+C, Ctrl+Break, closing the console window, logging off and shutting
// down: Windows calls the console handlers on a thread of their own, and
// ends the process once they return FALSE.
#pragma once

#include <windows.h>

namespace slabtone {

// Removes the temporary output file, if one is being written, and returns
// FALSE. Installed by remove_temporary_file_on_interrupt; tests call it as
// the system would.
BOOL WINAPI remove_temporary_on_console_event(DWORD event);

}  // namespace slabtone
