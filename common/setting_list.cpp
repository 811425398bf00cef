#include "common/setting_list.h"

#include <cwchar>

namespace {

// Every name at its longest with its terminator, and the list's own terminator.
constexpr DWORD kValueChars = kSettingListNames * kSettingListNameChars + 1;

int IndexOf(const SettingList& list, const wchar_t* name) {
    for (int i = 0; i < list.count; ++i)
        if (_wcsicmp(list.names[i], name) == 0) return i;
    return -1;
}

}  // namespace

bool FitsList(const wchar_t* name) {
    return name && name[0] && wcsnlen(name, kSettingListNameChars) < static_cast<size_t>(kSettingListNameChars);
}

bool ReadSettingList(HKEY key, const wchar_t* value, SettingList* list) {
    list->count = 0;
    if (!key) return false;
    // Zero beyond what the query may fill: every name read ends inside the buffer.
    wchar_t data[kValueChars + 2] = {};
    DWORD type = 0, size = kValueChars * sizeof(wchar_t);
    LONG status = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    // A longer value was never written by Kalnix (ERROR_MORE_DATA), and nor was another type.
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ) return false;
    size_t chars = size / sizeof(wchar_t);
    for (size_t at = 0; at < chars && data[at] && list->count < kSettingListNames;) {
        size_t length = wcslen(data + at);
        if (FitsList(data + at) && IndexOf(*list, data + at) < 0) wcscpy(list->names[list->count++], data + at);
        at += length + 1;
    }
    return true;
}

LONG WriteSettingList(HKEY key, const wchar_t* value, const SettingList& list) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (list.count == 0) {
        LONG status = RegDeleteValueW(key, value);
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    wchar_t data[kValueChars] = {};
    DWORD used = 0;
    for (int i = 0; i < list.count && i < kSettingListNames; ++i) {
        size_t length = wcslen(list.names[i]);
        wmemcpy(data + used, list.names[i], length + 1);
        used += static_cast<DWORD>(length + 1);
    }
    data[used++] = L'\0';
    return RegSetValueExW(key, value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data), used * sizeof(wchar_t));
}

bool ListHas(const SettingList& list, const wchar_t* name) { return IndexOf(list, name) >= 0; }

bool AddToList(SettingList* list, const wchar_t* name) {
    if (!FitsList(name)) return false;
    if (ListHas(*list, name)) return true;
    if (list->count == kSettingListNames) RemoveFromList(list, list->names[0]);
    wcscpy(list->names[list->count++], name);
    return true;
}

void RemoveFromList(SettingList* list, const wchar_t* name) {
    int at = IndexOf(*list, name);
    if (at < 0) return;
    for (int i = at; i + 1 < list->count; ++i) wcscpy(list->names[i], list->names[i + 1]);
    --list->count;
}
