#include "setup/msi_session.h"

#include <msiquery.h>

#include "common/loaded_function.h"

namespace {

struct MsiCalls {
    decltype(&::MsiGetPropertyW) getProperty;
    decltype(&::MsiSetPropertyW) setProperty;
    decltype(&::MsiCreateRecord) createRecord;
    decltype(&::MsiRecordSetStringW) recordSetString;
    decltype(&::MsiProcessMessage) processMessage;
    decltype(&::MsiCloseHandle) closeHandle;
};

// Looked up at every call: the Windows Installer may load this library anew for each action.
MsiCalls Calls() {
    return {LoadedFunction<decltype(&::MsiGetPropertyW)>(L"msi.dll", "MsiGetPropertyW"),
            LoadedFunction<decltype(&::MsiSetPropertyW)>(L"msi.dll", "MsiSetPropertyW"),
            LoadedFunction<decltype(&::MsiCreateRecord)>(L"msi.dll", "MsiCreateRecord"),
            LoadedFunction<decltype(&::MsiRecordSetStringW)>(L"msi.dll", "MsiRecordSetStringW"),
            LoadedFunction<decltype(&::MsiProcessMessage)>(L"msi.dll", "MsiProcessMessage"),
            LoadedFunction<decltype(&::MsiCloseHandle)>(L"msi.dll", "MsiCloseHandle")};
}

}  // namespace

bool MsiCallsAvailable() {
    MsiCalls calls = Calls();
    return calls.getProperty && calls.setProperty && calls.createRecord && calls.recordSetString &&
           calls.processMessage && calls.closeHandle;
}

std::wstring MsiProperty(MSIHANDLE install, const wchar_t* name) {
    MsiCalls calls = Calls();
    if (!calls.getProperty) return L"";
    DWORD chars = 0;
    wchar_t none[1] = {};
    // Asked with an empty buffer first: the answer is the length without the terminator.
    UINT status = calls.getProperty(install, name, none, &chars);
    if (status != ERROR_MORE_DATA) return L"";
    std::wstring value(chars + 1, L'\0');
    chars = static_cast<DWORD>(value.size());
    if (calls.getProperty(install, name, &value[0], &chars) != ERROR_SUCCESS) return L"";
    value.resize(chars);
    return value;
}

bool SetMsiProperty(MSIHANDLE install, const wchar_t* name, const std::wstring& value) {
    MsiCalls calls = Calls();
    return calls.setProperty && calls.setProperty(install, name, value.c_str()) == ERROR_SUCCESS;
}

void WriteMsiLogLine(MSIHANDLE install, const std::wstring& line) {
    MsiCalls calls = Calls();
    if (!calls.createRecord || !calls.recordSetString || !calls.processMessage || !calls.closeHandle) return;
    MSIHANDLE record = calls.createRecord(1);
    if (!record) return;
    // Field 0 is a template whose [brackets] the installer would expand: the line goes in field 1.
    calls.recordSetString(record, 0, L"[1]");
    calls.recordSetString(record, 1, line.c_str());
    calls.processMessage(install, INSTALLMESSAGE_INFO, record);
    calls.closeHandle(record);
}
