#include "service/settings_watch.h"

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "common/setting_policy.h"
#include "common/settings_key.h"

namespace {

constexpr DWORD kWatchedChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// One watched key. Where it does not exist (no policy has ever been set), its parent is watched
// for its creation instead.
struct KeyWatch {
    const wchar_t* path;
    const wchar_t* parentPath;
    HKEY key;
    HANDLE changed;  // auto-reset
};

KeyWatch g_watches[2] = {
    {kSettingsKeyPath, L"Software", nullptr, nullptr},
    {kPolicyKeyPath, L"Software\\Policies", nullptr, nullptr},
};

HKEY OpenForNotify(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

void Arm(KeyWatch* watch) {
    if (watch->key) RegCloseKey(watch->key);
    watch->key = OpenForNotify(watch->path);
    if (!watch->key) watch->key = OpenForNotify(watch->parentPath);
    if (!watch->key) return;
    LSTATUS status = RegNotifyChangeKeyValue(watch->key, FALSE, kWatchedChanges, watch->changed, TRUE);
    if (status != ERROR_SUCCESS) LogFormatted(L"RNCKV Failed: %d\n", static_cast<int>(status));
}

}  // namespace

void StartSettingsWatch() {
    for (KeyWatch& watch : g_watches) {
        watch.changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (watch.changed) Arm(&watch);
    }
}

void StopSettingsWatch() {
    for (KeyWatch& watch : g_watches) {
        // The key first: closing it ends the registration that may signal the event.
        if (watch.key) RegCloseKey(watch.key);
        if (watch.changed) CloseHandle(watch.changed);
        watch.key = nullptr;
        watch.changed = nullptr;
    }
}

int SettingsWatchHandles(HANDLE* handles, int room) {
    int count = 0;
    for (const KeyWatch& watch : g_watches) {
        if (watch.changed && watch.key && count < room) handles[count++] = watch.changed;
    }
    return count;
}

bool SettingsWatchSignalled(HANDLE signalled) {
    for (KeyWatch& watch : g_watches) {
        if (!watch.changed || watch.changed != signalled) continue;
        Arm(&watch);
        return true;
    }
    return false;
}
