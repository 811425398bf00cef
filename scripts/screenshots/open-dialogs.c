// Opens Kalnix's windows the way a user does, for screenshots, and writes the screen rectangle
// of the window that opened to OUTFILE as ImageMagick geometry (WxH+X+Y). Run inside the Wine
// desktop Kalnix runs in: FindWindow sees no other desktop.
//   open-dialogs.exe status OUTFILE     double-clicks the tray icon: the status dialog
//   open-dialogs.exe settings OUTFILE   clicks the status dialog's "Configure Kalnix" link
//   open-dialogs.exe more OUTFILE       the menu's "More settings..." command
//   open-dialogs.exe menu OUTFILE       right-clicks the tray icon: Kalnix's menu (left open)
#include <windows.h>
#include <stdio.h>
#include <string.h>

// The visible dialog (#32770) with this caption, waiting up to 10 s.
static HWND WaitForDialog(const wchar_t* caption) {
    for (int i = 0; i < 100; ++i) {
        HWND dialog = FindWindowW(L"#32770", caption);
        if (dialog && IsWindowVisible(dialog)) return dialog;
        Sleep(100);
    }
    return NULL;
}

// An open Kalnix dialog would only be brought forward by the menu's commands: the ones the
// earlier steps opened are closed first, the topmost first.
static void CloseDialogs(void) {
    static const wchar_t* const captions[] = {L"More settings", L"Settings", L"Kalnix"};
    for (int i = 0; i < 3; ++i) {
        HWND dialog = FindWindowW(L"#32770", captions[i]);
        if (dialog) SendMessageW(dialog, WM_CLOSE, 0, 0);
    }
    Sleep(500);
}

// The visible popup menu (#32768), waiting up to 10 s.
static HWND WaitForMenu(void) {
    for (int i = 0; i < 100; ++i) {
        HWND menu = FindWindowW(L"#32768", NULL);
        if (menu && IsWindowVisible(menu)) return menu;
        Sleep(100);
    }
    return NULL;
}

static int WriteGeometry(HWND window, const char* path) {
    RECT r;
    FILE* out;
    if (!window || !GetWindowRect(window, &r)) return 1;
    out = fopen(path, "w");
    if (!out) return 1;
    fprintf(out, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    fclose(out);
    return 0;
}

int main(int argc, char** argv) {
    HWND tray = FindWindowW(L"KalnixWndClass", L"KalnixWnd");
    if (argc != 3 || !tray) return 1;
    if (strcmp(argv[1], "status") == 0) {
        PostMessageW(tray, WM_USER + 1, 0, WM_LBUTTONDBLCLK);
        return WriteGeometry(WaitForDialog(L"Kalnix"), argv[2]);
    }
    if (strcmp(argv[1], "settings") == 0) {
        HWND link = GetDlgItem(WaitForDialog(L"Kalnix"), 1017);
        PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        PostMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        return WriteGeometry(WaitForDialog(L"Settings"), argv[2]);
    }
    if (strcmp(argv[1], "more") == 0) {
        CloseDialogs();
        PostMessageW(tray, WM_COMMAND, 303, 0);  // the menu's "More settings..."
        return WriteGeometry(WaitForDialog(L"More settings"), argv[2]);
    }
    if (strcmp(argv[1], "menu") == 0) {
        CloseDialogs();
        // Version 4's callback: the anchor point in wParam, the event in lParam's low word.
        PostMessageW(tray, WM_USER + 1, MAKEWPARAM(900, 700), WM_CONTEXTMENU);
        return WriteGeometry(WaitForMenu(), argv[2]);
    }
    return 1;
}
