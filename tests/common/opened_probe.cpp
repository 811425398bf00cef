// Stands in for what the desktop's shell is asked to open: records which process started it
// (HKLM\Software\KalnixTest\OpenedProbe, value Parent) and ends. No console, no window.
#include <windows.h>
#include <tlhelp32.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    DWORD self = GetCurrentProcessId(), parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\KalnixTest\\OpenedProbe", 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 1;
    RegSetValueExW(key, L"Parent", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&parent), sizeof(parent));
    RegCloseKey(key);
    return 0;
}
