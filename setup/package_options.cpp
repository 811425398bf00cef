#include "setup/package_options.h"

namespace {

constexpr DWORD kShortestAlarm = 5;
constexpr DWORD kLongestAlarm = 60;
// Nine digits never overflow 32 bits.
constexpr size_t kMostDigits = 9;

}  // namespace

bool ParseModeOption(const std::wstring& text, DWORD* mode) {
    if (text != L"1" && text != L"2") return false;
    *mode = text[0] - L'0';
    return true;
}

bool ParseAlarmTimeOption(const std::wstring& text, DWORD* seconds) {
    if (text.empty() || text.size() > kMostDigits) return false;
    DWORD value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + (c - L'0');
    }
    if (value < kShortestAlarm || value > kLongestAlarm) return false;
    *seconds = value;
    return true;
}
