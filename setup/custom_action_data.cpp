#include "setup/custom_action_data.h"

#include <cwchar>

bool AppendField(std::wstring* data, const wchar_t* name, const std::wstring& value) {
    if (value.find(kFieldSeparator) != std::wstring::npos) return false;
    if (!data->empty()) *data += kFieldSeparator;
    *data += name;
    *data += L'=';
    *data += value;
    return true;
}

std::wstring FieldOf(const std::wstring& data, const wchar_t* name) {
    const size_t nameLength = wcslen(name);
    size_t start = 0;
    while (start <= data.size()) {
        size_t end = data.find(kFieldSeparator, start);
        if (end == std::wstring::npos) end = data.size();
        if (end - start > nameLength && data.compare(start, nameLength, name) == 0 &&
            data[start + nameLength] == L'=') {
            return data.substr(start + nameLength + 1, end - start - nameLength - 1);
        }
        start = end + 1;
    }
    return L"";
}

bool FlagOf(const std::wstring& data, const wchar_t* name) { return FieldOf(data, name) == L"1"; }
