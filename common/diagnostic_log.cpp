#include "common/diagnostic_log.h"

#include <windows.h>

#include <aclapi.h>
#include <shlobj.h>

#include <cstdarg>
#include <cwchar>

#include "common/bounded_format.h"
#include "common/folder_rights.h"
#include "common/loaded_function.h"
#include "common/scoped_handle.h"
#include "common/setting_policy.h"
#include "common/setting_table.h"
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
        if (RegQueryValueExW(key.get(), SettingName(SettingId::EnableLogging), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS) {
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
    if (!InProgramsOwnModule() || !ReadPolicyDword(SettingName(SettingId::EnableLogging), &gate)) gate = LocalLogGate();
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

// The account this process runs as counts with the administrators: only it, or an
// administrator, can have made a file or folder it owns. (Kalnix runs elevated.)
struct OwnAccount {
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    PSID sid = nullptr;
};

void ReadOwnAccount(OwnAccount* own) {
    ScopedHandle token;
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
        GetTokenInformation(token.get(), TokenUser, &own->info, sizeof(own->info), &size)) {
        own->sid = own->info.user.User.Sid;
    }
}

bool OwnedByTrustedAccount(HANDLE item, PSID own) {
    PSID owner = nullptr;
    ScopedLocal descriptor;
    return GetSecurityInfo(item, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                           descriptor.put()) == ERROR_SUCCESS &&
           IsAdministratorSid(owner, own);
}

// A folder Kalnix.exe may keep its log in, judged as the setup program judges an existing
// install folder: the folder itself (no junction or link), owned by administrators or this
// account, letting nobody else do more than read and execute in it, so that nobody else can
// put a file or a link at the log's name. A Kalnix.exe copied into a folder users may write
// to (under C:\, say) keeps its log elsewhere.
bool IsSafeLogFolder(const wchar_t* folder, PSID own) {
    ScopedFile handle(CreateFileW(folder, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    ScopedLocal descriptor;
    if (GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, descriptor.put()) != ERROR_SUCCESS) {
        return false;
    }
    return !FolderRefusal(ReadObjectGrant(descriptor.get(), own), FolderPlace::ExistingInstallFolder);
}

// "<folder>\Kalnix.log" into `path` (which may hold the folder); false when it does not fit.
bool JoinLogName(const wchar_t* folder, wchar_t* path, DWORD capacity) {
    const wchar_t kName[] = L"\\Kalnix.log";
    size_t used = wcslen(folder);
    if (used + wcslen(kName) + 1 > capacity) return false;
    if (path != folder) wmemmove(path, folder, used);
    wcscpy(path + used, kName);
    return true;
}

// The log opened to append, never through a link: a new file, or a plain file with one name that
// an administrator or this account made. One writer at a time; a reader (an editor showing the
// log, someone following it) may have it open meanwhile, and no line is lost for it.
HANDLE OpenLogFile(const wchar_t* path, PSID own) {
    ScopedFile file(CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        information.nNumberOfLinks != 1 || !OwnedByTrustedAccount(file.get(), own)) {
        return INVALID_HANDLE_VALUE;
    }
    return file.release();
}

// Kalnix.log in `folder` when the folder and the file are safe.
HANDLE OpenLogIn(wchar_t* folder, DWORD capacity, PSID own) {
    if (!IsSafeLogFolder(folder, own) || !JoinLogName(folder, folder, capacity)) return INVALID_HANDLE_VALUE;
    return OpenLogFile(folder, own);
}

// Kalnix.exe's own log: beside it in its install folder, else in %ProgramData%\Kalnix, the
// setup logs' folder, once the setup program has made it; else none.
HANDLE OpenProgramsLog(PSID own) {
    wchar_t path[kLogPathChars];
    DWORD length = GetModuleFileNameW(nullptr, path, kLogPathChars);
    if (length == 0 || length >= kLogPathChars) return INVALID_HANDLE_VALUE;
    if (wchar_t* lastSlash = wcsrchr(path, L'\\')) *lastSlash = L'\0';
    HANDLE beside = OpenLogIn(path, kLogPathChars, own);
    if (beside != INVALID_HANDLE_VALUE) return beside;
    // Kalnix.exe imports shell32; a library another program loaded never gets here.
    static const auto folderPath = LoadedFunction<decltype(&::SHGetFolderPathW)>(L"shell32.dll", "SHGetFolderPathW");
    const wchar_t kFolder[] = L"\\Kalnix";
    if (!folderPath || folderPath(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK ||
        wcslen(path) + wcslen(kFolder) >= MAX_PATH) {
        return INVALID_HANDLE_VALUE;
    }
    wcscat(path, kFolder);
    return OpenLogIn(path, kLogPathChars, own);
}

// The file this line goes to, opened; INVALID_HANDLE_VALUE when it goes nowhere.
HANDLE OpenLog() {
    OwnAccount own;
    ReadOwnAccount(&own);
    if (g_logPathTold) return g_toldLogPath[0] ? OpenLogFile(g_toldLogPath, own.sid) : INVALID_HANDLE_VALUE;
    if (!InProgramsOwnModule()) return INVALID_HANDLE_VALUE;
    return OpenProgramsLog(own.sid);
}

// One byte per character, each newline as CR LF. A character with no 8-bit form becomes
// '?' so the rest of the line and its newline still reach the file.
void WriteEightBitLine(HANDLE file, const wchar_t* line) {
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
    DWORD written = 0;
    WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
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

    ScopedFile file(OpenLog());
    if (file.valid()) WriteEightBitLine(file.get(), line);
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
