#pragma once

#include <windows.h>

#include "common/setting_table.h"

// The hibernate-after timeout of the active power scheme on battery, in seconds (0 = never),
// which automatic protection shortens to the HibernateAfter setting while it runs, so that a
// laptop put away asleep still hibernates before its battery runs flat.

// GUID_SLEEP_SUBGROUP and GUID_HIBERNATE_TIMEOUT (HIBERNATEIDLE), spelled out so that no
// object has to define the header's GUIDs.
constexpr GUID kSleepSubgroup = {0x238c9fa8, 0x0aad, 0x41ed, {0x83, 0xf4, 0x97, 0xbe, 0x24, 0x2c, 0x8f, 0x20}};
constexpr GUID kHibernateTimeoutSetting = {0x9d7815a6, 0x7ee4, 0x497e, {0x88, 0x88, 0x51, 0x5a, 0x05, 0xf0, 0x23, 0x64}};

// The settings values that keep the user's on-battery timeout while Kalnix has replaced it:
// the scheme (REG_BINARY, 16 bytes), the user's seconds (REG_DWORD) and the seconds Kalnix
// wrote in their place (REG_DWORD), stored once the write succeeded: only that value is
// taken back.
constexpr const wchar_t* kSavedHibernateScheme = SettingName(SettingId::HibernateScheme);
constexpr const wchar_t* kSavedHibernateTimeout = SettingName(SettingId::HibernateTimeout);
constexpr const wchar_t* kWrittenHibernateTimeout = SettingName(SettingId::HibernateWritten);

// Automatic protection: when the active scheme's timeout on battery is never (0) or longer
// than `minutes` (the HibernateAfter setting), saves the scheme and the timeout (unless
// already saved) and sets it to `minutes`. 0 minutes leaves the timeout alone. Where a timeout
// of 0 is Windows' adaptive hibernation (`zeroIsAdaptive`), 0 stays too: Windows hibernates by
// itself there. The timeout on mains power is left alone; an administrator's lock is logged
// and respected.
void EnforceHibernateTimeout(DWORD minutes, bool zeroIsAdaptive);

// Puts a saved on-battery timeout back into its scheme, unless the user has chosen another
// timeout since, and deletes the saved values. True when nothing was saved or it was put back.
bool RestoreHibernateTimeout();
