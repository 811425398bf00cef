#pragma once

#include <windows.h>

// Number of handles the process `pid` holds, counted in the system handle list
// (GetProcessHandleCount answers 0 under Wine). -1 when the list cannot be read.
long CountProcessHandles(DWORD pid);
