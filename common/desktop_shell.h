#pragma once

#include <windows.h>

// Asks the shell that owns the desktop (Explorer) to open `target` (a web address, a file) as
// a double-click would. The shell starts what opens it in its own context: as the user at the
// desktop, without administrator rights, whoever the calling process runs as. S_OK once the
// shell has opened it; S_FALSE when the shell could not; a failure where no shell answers
// (none runs, COM refused, a shell without the desktop's folder view).
HRESULT WINAPI OpenThroughDesktopShell(const wchar_t* target);
