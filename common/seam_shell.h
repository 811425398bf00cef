#pragma once

#include <windows.h>
#include <shellapi.h>

struct IAccPropServices;

// Stand-ins for the shell and the screen readers' services: Wine offers no way to inspect the
// notification area's records, and a test must not start a browser. Tests may swap an entry
// inside a scope (tests/support/platform_scope.h).
struct ShellSeam {
    decltype(&::Shell_NotifyIconW) notifyIcon;
    decltype(&::ShellExecuteW) shellExecute;
    // An elevated Kalnix hands what it opens for the user to the desktop's shell, which starts it
    // without administrator rights (common/desktop_shell.h). Under Wine everything runs as one
    // administrator: tests see what the shell is asked, or make it refuse.
    HRESULT(WINAPI* openThroughDesktopShell)(const wchar_t* target);
    // oleacc's property services, which tell screen readers what a control is: Wine's answers
    // every annotation with E_NOTIMPL.
    HRESULT(WINAPI* createAccPropServices)(IAccPropServices** services);
    // Starting Kalnix with an administrator's rights ("runas"): Wine asks nobody, and a test
    // must see what the shell was asked without starting it.
    decltype(&::ShellExecuteExW) shellExecuteEx;
};

extern ShellSeam g_shellSeam;
