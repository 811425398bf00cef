#pragma once

#include <windows.h>
#include <shellapi.h>

// The few system calls whose effect Wine cannot show (no speaker, no way to inspect the
// notification area's records, an administrator test that always passes there). Tests
// may swap an entry inside a scope; everything else calls Win32 directly.
struct Platform {
    decltype(&::Beep) beep;
    decltype(&::Shell_NotifyIconW) notifyIcon;
    decltype(&::ShellExecuteW) shellExecute;
    decltype(&::CheckTokenMembership) checkTokenMembership;
};

extern Platform g_platform;
