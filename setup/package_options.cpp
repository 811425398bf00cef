#include "setup/package_options.h"

#include "common/setting_table.h"
#include "protect/protection_settings.h"

namespace {

// Nine digits never overflow 32 bits.
constexpr size_t kMostDigits = 9;

// The modes the package's MODE names are the protection's own.
static_assert(SettingFactOf(SettingId::Action).least == kModeAutoProtection &&
                  SettingFactOf(SettingId::Action).most == kModeLidAlarm,
              "Action's range is not the protection's two modes");

// The value of 1 to 9 decimal digits (leading zeros allowed); false for any other text.
bool DecimalValue(const std::wstring& text, DWORD* value) {
    if (text.empty() || text.size() > kMostDigits) return false;
    DWORD number = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        number = number * 10 + (c - L'0');
    }
    *value = number;
    return true;
}

bool InRange(DWORD value, const SettingFact& fact) { return value >= fact.least && value <= fact.most; }

}  // namespace

bool ParseModeOption(const std::wstring& text, DWORD* mode) {
    DWORD value = 0;
    // A mode is named by its number alone: "01" names none.
    if (!DecimalValue(text, &value) || text[0] == L'0' || !InRange(value, SettingFactOf(SettingId::Action)))
        return false;
    *mode = value;
    return true;
}

bool ParseAlarmTimeOption(const std::wstring& text, DWORD* seconds) {
    DWORD value = 0;
    if (!DecimalValue(text, &value) || !InRange(value, SettingFactOf(SettingId::AlarmTime))) return false;
    *seconds = value;
    return true;
}
