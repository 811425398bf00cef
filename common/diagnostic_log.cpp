#include "common/diagnostic_log.h"

#include <windows.h>

#include <share.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "common/bounded_format.h"
#include "common/scoped_handle.h"
#include "common/setting_policy.h"
#include "common/settings_key.h"

// The base of the module this code is linked into, placed by the linker.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// True in the executable itself, false in a library another program loaded.
bool InProgramsOwnModule() {
    return reinterpret_cast<HMODULE>(&__ImageBase) == GetModuleHandleW(nullptr);
}

DWORD LocalLogGate() {
    DWORD gate = 0;
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
        // After a failed query (a value longer than 4 bytes) the buffer's contents are
        // undefined, so the query goes to a copy and only a successful read counts.
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (RegQueryValueExW(key.get(), L"EnableLogging", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS) {
            gate = value;
        }
    }
    return gate;
}

// Kalnix.exe goes by Group Policy's EnableLogging where there is one. The installer library
// goes by the local value only: policies govern what the running Kalnix does, not how the
// setup program's helper reports.
bool LogGateOpen() {
    DWORD gate = 0;
    if (!InProgramsOwnModule() || !ReadPolicyDword(L"EnableLogging", &gate)) gate = LocalLogGate();
#if defined(KALNIX_LOG_GATE_DIAGNOSTIC)
    return gate != 1;
#else
    return gate == 1;
#endif
}

constexpr DWORD kLogPathChars = 32768;

// The file a caller named, once one did; empty when told to log nowhere.
bool g_logPathTold = false;
wchar_t g_toldLogPath[kLogPathChars];

// Builds "<directory of the executable>\Kalnix.log". False when the path does not fit.
bool PathBesideExecutable(wchar_t* path, DWORD capacity) {
    DWORD length = GetModuleFileNameW(nullptr, path, capacity);
    if (length == 0 || length >= capacity) return false;
    wchar_t* lastSlash = wcsrchr(path, L'\\');
    if (lastSlash) *lastSlash = L'\0';
    const wchar_t kName[] = L"\\Kalnix.log";
    size_t used = wcslen(path);
    if (used + wcslen(kName) + 1 > capacity) return false;
    wcscpy(path + used, kName);
    return true;
}

// The file this line goes to, or nullptr when it goes nowhere. `buffer` holds the default.
const wchar_t* LogFilePath(wchar_t* buffer, DWORD capacity) {
    if (g_logPathTold) return g_toldLogPath[0] ? g_toldLogPath : nullptr;
    if (!InProgramsOwnModule()) return nullptr;
    return PathBesideExecutable(buffer, capacity) ? buffer : nullptr;
}

// One byte per character, each newline as CR LF. A character with no 8-bit form becomes
// '?' so the rest of the line and its newline still reach the file.
void WriteEightBitLine(FILE* file, const wchar_t* line) {
    char bytes[kLogLineChars * 2];
    size_t count = 0;
    for (const wchar_t* p = line; *p; ++p) {
        if (*p == L'\n') {
            bytes[count++] = '\r';
            bytes[count++] = '\n';
        } else {
            bytes[count++] = *p < 256 ? static_cast<char>(*p) : '?';
        }
    }
    fwrite(bytes, 1, count, file);
}

}  // namespace

void LogMessage(const wchar_t* message) {
    if (!LogGateOpen()) return;

    // The message is cut to leave room for its newline, so every call ends its line.
    wchar_t line[kLogLineChars];
    size_t length = message ? wcslen(message) : 0;
    if (length > kLogLineChars - 2) length = kLogLineChars - 2;
    if (length) wmemcpy(line, message, length);
    line[length] = L'\n';
    line[length + 1] = L'\0';

    wchar_t buffer[kLogPathChars];
    const wchar_t* path = LogFilePath(buffer, kLogPathChars);
    if (!path) return;

    // Binary mode with our own CR LF: the 8-bit bytes go out exactly as built.
    FILE* file = _wfsopen(path, L"ab+", _SH_DENYRW);
    if (!file) return;
    WriteEightBitLine(file, line);
    fclose(file);
}

void LogFormatted(const wchar_t* format, ...) {
    wchar_t message[kLogLineChars];
    va_list args;
    va_start(args, format);
    FormatBoundedV(message, kLogLineChars, format, args);
    va_end(args);
    LogMessage(message);
}

bool SetLogFilePath(const wchar_t* path) {
    g_logPathTold = path != nullptr;
    g_toldLogPath[0] = L'\0';
    if (!path) return true;
    if (wcslen(path) >= kLogPathChars) return false;
    wcscpy(g_toldLogPath, path);
    return true;
}
