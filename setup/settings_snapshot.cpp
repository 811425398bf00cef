#include "setup/settings_snapshot.h"

#include <cwchar>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "common/settings_key.h"

namespace {

const KeyPlace kSettingsPlace = {kSettingsKeyPath, 0};

// Room for the longest of Kalnix's values, its record of the lid closures (20 lines of up to
// 160 characters).
constexpr DWORD kLongestValue = 8192;
constexpr wchar_t kHex[] = L"0123456789abcdef";

bool NameCarriable(const std::wstring& name) {
    return !name.empty() && name.find_first_of(L":,|") == std::wstring::npos;
}

int HexDigit(wchar_t c) {
    const wchar_t* at = wcschr(kHex, c);
    return c && at ? static_cast<int>(at - kHex) : -1;
}

bool DecodeOne(const std::wstring& entry, SettingValue* value) {
    size_t first = entry.find(L':');
    size_t second = first == std::wstring::npos ? first : entry.find(L':', first + 1);
    if (second == std::wstring::npos || first == 0) return false;
    value->name = entry.substr(0, first);
    std::wstring type = entry.substr(first + 1, second - first - 1);
    if (type.empty() || type.size() > 2 || type.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
    value->type = 0;
    for (wchar_t digit : type) value->type = value->type * 10 + (digit - L'0');
    std::wstring hex = entry.substr(second + 1);
    if (hex.size() % 2 != 0 || hex.size() / 2 > kLongestValue) return false;
    value->data.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        value->data.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return true;
}

bool WriteValue(HKEY key, const SettingValue& value) {
    LONG status = RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                                 static_cast<DWORD>(value.data.size()));
    if (status != ERROR_SUCCESS) LogFormatted(L"CA: RegSetValueEx failed: %d", static_cast<int>(status));
    return status == ERROR_SUCCESS;
}

LONG CreateKey(const KeyPlace& place, HKEY* key) {
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, place.path, 0, nullptr, 0,
                                  KEY_QUERY_VALUE | KEY_SET_VALUE | place.view, nullptr, key, nullptr);
    if (status != ERROR_SUCCESS) LogFormatted(L"CA: RegCreateKeyEx failed: %d", static_cast<int>(status));
    return status;
}

}  // namespace

std::wstring EncodeSettings(const std::vector<SettingValue>& values) {
    std::wstring text;
    for (const SettingValue& value : values) {
        if (!NameCarriable(value.name) || value.data.size() > kLongestValue) continue;
        if (!text.empty()) text += L',';
        text += value.name + L':' + std::to_wstring(value.type) + L':';
        for (BYTE byte : value.data) {
            text += kHex[byte >> 4];
            text += kHex[byte & 0xF];
        }
    }
    return text;
}

bool DecodeSettings(const std::wstring& text, std::vector<SettingValue>* values) {
    values->clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L',', start);
        if (end == std::wstring::npos) end = text.size();
        SettingValue value;
        if (!DecodeOne(text.substr(start, end - start), &value)) return false;
        values->push_back(value);
        start = end + 1;
    }
    return true;
}

bool ReadKeyValues(const KeyPlace& place, std::vector<SettingValue>* values) {
    values->clear();
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, place.path, 0, KEY_QUERY_VALUE | place.view, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<BYTE> data(kLongestValue);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameChars = 256, type = 0, size = kLongestValue;
        LONG status = RegEnumValueW(key.get(), index, name, &nameChars, nullptr, &type, data.data(), &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        // Nothing of Kalnix's is that long; a failed read leaves the buffer undefined.
        if (status != ERROR_SUCCESS) continue;
        values->push_back({name, type, std::vector<BYTE>(data.begin(), data.begin() + size)});
    }
    return true;
}

std::vector<std::wstring> PutBackMissingSettings(const std::vector<SettingValue>& values) {
    std::vector<std::wstring> written;
    if (values.empty()) return written;
    ScopedKey key;
    if (CreateKey(kSettingsPlace, key.put()) != ERROR_SUCCESS) return written;
    for (const SettingValue& value : values) {
        if (RegQueryValueExW(key.get(), value.name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            continue;
        }
        if (WriteValue(key.get(), value)) written.push_back(value.name);
    }
    return written;
}

bool ResetKey(const KeyPlace& place, bool existed, const std::vector<SettingValue>& values) {
    ScopedKey old;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, place.path, 0, DELETE | KEY_ENUMERATE_SUB_KEYS |
                                KEY_QUERY_VALUE | KEY_SET_VALUE | place.view, old.put());
    if (status == ERROR_SUCCESS) {
        status = RegDeleteTreeW(old.get(), nullptr);
        old.Reset();
        if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, place.path, place.view, 0);
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        LogFormatted(L"CA: RegDeleteTree failed: %d", static_cast<int>(status));
        return false;
    }
    if (!existed) return true;
    ScopedKey key;
    if (CreateKey(place, key.put()) != ERROR_SUCCESS) return false;
    bool complete = true;
    for (const SettingValue& value : values) complete = WriteValue(key.get(), value) && complete;
    return complete;
}

bool ReadSettingsKey(std::vector<SettingValue>* values) { return ReadKeyValues(kSettingsPlace, values); }

bool ResetSettingsKey(bool existed, const std::vector<SettingValue>& values) {
    return ResetKey(kSettingsPlace, existed, values);
}
