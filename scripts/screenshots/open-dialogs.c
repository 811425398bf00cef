// Opens Kalnix's dialogs the way a user does, for screenshots: "status" double-clicks the
// tray icon, "settings" clicks the status dialog's "Configure Kalnix" link.
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    HWND tray = FindWindowW(L"KalnixWndClass", L"KalnixWnd");
    if (!tray) { printf("Kalnix is not running\n"); return 1; }
    if (argc > 1 && strcmp(argv[1], "settings") == 0) {
        HWND status = NULL;
        for (int i = 0; i < 100 && !status; ++i) {
            status = FindWindowW(L"#32770", L"Kalnix");
            if (!status) Sleep(100);
        }
        if (!status) { printf("no status dialog\n"); return 1; }
        HWND link = GetDlgItem(status, 1017);
        PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        PostMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        return 0;
    }
    PostMessageW(tray, WM_USER + 1, 0, WM_LBUTTONDBLCLK);
    return 0;
}
