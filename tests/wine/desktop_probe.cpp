// Follows, from inside the Wine desktop Kalnix runs in (FindWindow sees no other desktop),
// Kalnix's windows as a person sees them: it waits for each STATE in turn and appends a line
// "STATE yes" to FILE when it is reached (with "X Y" after it where a person would click next),
// or "STATE no" when 30 s went by first, and stops.
//   desktop_probe.exe FILE STATE...
// STATE: icon (Kalnix's icon is in the notification area), menu or no-menu (a popup menu is
// shown or not), status or no-status (the status dialog, caption "Kalnix"), note (a message box
// of Kalnix's, caption "Kalnix", with its OK button); run:PATH starts PATH in this desktop (at
// once), and exited waits for the program started last that has not ended yet, with its exit
// code after "yes". Start it before Kalnix: a program that starts in the desktop later takes
// the keyboard from Kalnix's menus.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

bool Shown(const wchar_t* className, const wchar_t* caption) {
    HWND window = FindWindowW(className, caption);
    return window && IsWindowVisible(window);
}

// A modification that changes nothing succeeds only for an icon that exists.
bool IconShown() {
    NOTIFYICONDATAW probe = {};
    probe.cbSize = NOTIFYICONDATAW_V2_SIZE;
    probe.hWnd = FindWindowW(L"KalnixWndClass", L"KalnixWnd");
    probe.uID = 1;
    return probe.hWnd && Shell_NotifyIconW(NIM_MODIFY, &probe);
}

HWND MessageBoxOk() {
    HWND box = FindWindowW(L"#32770", L"Kalnix");
    return box && IsWindowVisible(box) ? GetDlgItem(box, IDOK) : nullptr;
}

// Programs started by run:, oldest first; exited takes the last.
std::vector<HANDLE> g_started;

bool Start(const wchar_t* path) {
    std::vector<wchar_t> line(wcslen(path) + 3);
    swprintf(line.data(), line.size(), L"\"%ls\"", path);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    g_started.push_back(process.hProcess);
    return true;
}

bool Reached(const wchar_t* state) {
    if (wcscmp(state, L"icon") == 0) return IconShown();
    if (wcscmp(state, L"menu") == 0) return Shown(L"#32768", nullptr);
    if (wcscmp(state, L"no-menu") == 0) return !Shown(L"#32768", nullptr);
    if (wcscmp(state, L"status") == 0) return Shown(L"#32770", L"Kalnix");
    if (wcscmp(state, L"no-status") == 0) return !Shown(L"#32770", L"Kalnix");
    if (wcscmp(state, L"note") == 0) return MessageBoxOk() != nullptr;
    return false;
}

// Where a person clicks to go on from a reached state, in the desktop's coordinates: the
// status dialog's Close button, the menu's last item ("Exit Kalnix"). Nothing for the others.
bool ClickPoint(const wchar_t* state, POINT* point) {
    RECT place;
    if (wcscmp(state, L"note") == 0) {
        HWND ok = MessageBoxOk();
        if (!ok || !GetWindowRect(ok, &place)) return false;
        *point = {(place.left + place.right) / 2, (place.top + place.bottom) / 2};
        return true;
    }
    if (wcscmp(state, L"status") == 0) {
        HWND close = GetDlgItem(FindWindowW(L"#32770", L"Kalnix"), IDCLOSE);
        if (!close || !GetWindowRect(close, &place)) return false;
        *point = {(place.left + place.right) / 2, (place.top + place.bottom) / 2};
        return true;
    }
    if (wcscmp(state, L"menu") == 0) {
        HWND menu = FindWindowW(L"#32768", nullptr);
        if (!menu || !GetWindowRect(menu, &place)) return false;
        *point = {(place.left + place.right) / 2, place.bottom - 8};
        return true;
    }
    return false;
}

bool Report(const wchar_t* file, const wchar_t* state, bool reached, const DWORD* exitCode = nullptr) {
    FILE* out = _wfopen(file, L"a");
    if (!out) return false;
    POINT click;
    if (reached && exitCode) fwprintf(out, L"%ls yes %lu\n", state, *exitCode);
    else if (reached && ClickPoint(state, &click)) fwprintf(out, L"%ls yes %ld %ld\n", state, click.x, click.y);
    else fwprintf(out, L"%ls %ls\n", state, reached ? L"yes" : L"no");
    fclose(out);
    return reached;
}

}  // namespace

// A window program: a console one would get a console window in the desktop.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc < 3) return 2;
    for (int i = 2; i < __argc; ++i) {
        if (wcsncmp(__wargv[i], L"run:", 4) == 0) {
            if (!Report(__wargv[1], __wargv[i], Start(__wargv[i] + 4))) return 1;
            continue;
        }
        if (wcscmp(__wargv[i], L"exited") == 0) {
            DWORD code = 0;
            bool ended = !g_started.empty() && WaitForSingleObject(g_started.back(), 30000) == WAIT_OBJECT_0 &&
                         GetExitCodeProcess(g_started.back(), &code);
            if (!g_started.empty()) g_started.pop_back();
            if (!Report(__wargv[1], __wargv[i], ended, &code)) return 1;
            continue;
        }
        bool reached = false;
        for (int tries = 0; tries < 300 && !(reached = Reached(__wargv[i])); ++tries) Sleep(100);
        if (!Report(__wargv[1], __wargv[i], reached)) return 1;
    }
    return 0;
}
