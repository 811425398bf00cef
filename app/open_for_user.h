#pragma once

#include <windows.h>

// Opens a web address or a file (the product website, the log) for the person at the desktop,
// never with an administrator's token: a browser or an editor started elevated would hand that
// person an administrator's rights through its file dialogs, and after an administrator typed
// a password at a standard user's desktop, that person is not the administrator. A Kalnix
// without administrator rights opens it itself. An elevated one asks the desktop's shell,
// which opens it as the desktop's own user without administrator rights; where no shell
// answers, a message box owned by `owner` shows the address or path for the user to open.
void OpenForUser(HWND owner, const wchar_t* target);
