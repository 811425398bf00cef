#include "common/lid_close_action.h"

#include "common/event_report.h"

namespace {

bool ReplacesDoNothing(DWORD current, DWORD) { return current == kLidCloseDoNothing; }

const SchemeSettingGuard kLidCloseGuard = {
    kButtonSubgroup,
    kLidCloseSetting,
    ReplacesDoNothing,
    kSavedLidCloseScheme,
    kSavedLidCloseAction,
    kWrittenLidCloseAction,
    // An earlier Kalnix recorded nothing: what it wrote was always Sleep.
    true,
    kLidCloseSleep,
    L"Lid-close action on battery set to Sleep",
    L"Lid-close action on battery restored to %u",
    L"Lid-close action on battery is Do nothing and locked by policy: %d\n",
    L"Lid-close action on battery is Do nothing and cannot be saved",
    L"The scheme of the saved lid-close action no longer exists: the saved action is dropped",
    L"Lid-close action of the earlier scheme not put back: the active scheme is left as it is",
    KALNIX_EVENT_LID_ACTION_CHANGED,
    KALNIX_EVENT_LID_ACTION_PUT_BACK,
};

}  // namespace

DWORD ReadLidCloseAction(bool onBattery, DWORD* action, const wchar_t** failedCall) {
    return ReadActiveSchemeSetting(kButtonSubgroup, kLidCloseSetting, onBattery, action, failedCall);
}

// Without the scheme functions (before Windows Vista) the legacy flags are all there is.
void EnforceLidCloseSleep() { EnforceSchemeSetting(kLidCloseGuard, kLidCloseSleep); }

bool RestoreLidCloseAction() { return RestoreSchemeSetting(kLidCloseGuard); }
