#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "app/app_state.h"
#include "app/elevation.h"
#include "app/face_client.h"
#include "app/more_settings_dialog.h"
#include "app/settings_dialog.h"
#include "app/settings_effect.h"
#include "app/tray_window.h"
#include "common/applied_setting.h"
#include "common/diagnostic_log.h"
#include "common/owner_check.h"
#include "common/scoped_handle.h"
#include "common/protection_service_names.h"
#include "common/seam_sessions.h"
#include "image/logo_bitmap.h"
#include "protect/protection_settings.h"
#include "res/resource.h"

namespace {

// The marker exists only to be found by a second instance. "Global\" makes it
// machine-wide: one instance for all users logged on.
constexpr const wchar_t* kSingleInstanceName = L"Global\\Kalnix";

enum class ExistingMarker { None, Trusted, Foreign };

// Any user may create the marker first, and every administrator's Kalnix would then end
// silently. Only a marker owned by Administrators or SYSTEM (an elevated Kalnix's own) stops
// this start; an owner that cannot be read counts as foreign.
bool MarkerOwnedByAdministrators(HANDLE marker) {
    return OwnedByAdministratorsOrSystem(g_sessionSeam.getSecurityInfo, marker, SE_KERNEL_OBJECT);
}

ExistingMarker FindExistingMarker() {
    ScopedHandle existing(g_sessionSeam.openEvent(READ_CONTROL | SYNCHRONIZE, FALSE, kSingleInstanceName));
    if (!existing.valid()) return ExistingMarker::None;
    return MarkerOwnedByAdministrators(existing.get()) ? ExistingMarker::Trusted : ExistingMarker::Foreign;
}

// Owned by Administrators, so a later start can tell it from a marker a plain user made. Only
// an elevated administrator may name that owner; a Kalnix without administrator rights
// creates the marker with the default descriptor (its user as owner) instead.
HANDLE CreateMarkerEvent() {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    SECURITY_DESCRIPTOR descriptor;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) &&
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorOwner(&descriptor, administrators, FALSE)) {
        // No DACL given: the object gets the token's default one, as with no descriptor.
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
        HANDLE marker = CreateEventW(&attributes, FALSE, TRUE, kSingleInstanceName);
        if (marker) return marker;
    }
    return CreateEventW(nullptr, FALSE, TRUE, kSingleInstanceName);
}

// The look above and this create are two steps: a start at the same moment (the setup
// program's and the log-on task's) can create the marker in between. Only the start that
// really created it runs on; the other lets go of it and ends.
bool CreateSingleInstanceMarker() {
    HANDLE marker = CreateMarkerEvent();
    if (marker && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(marker);
        return false;
    }
    return true;  // held for the life of the process
}

// False when this start must end: an elevated Kalnix already holds the marker, or another
// start created it just now. A foreign marker is ignored and left alone, so this start runs
// without one. That a second Kalnix may then run beside one that also ignored it, or beside
// one started without administrator rights, is accepted: a user who made the marker must not
// be able to keep Kalnix from running.
bool TakeSingleInstance() {
    switch (FindExistingMarker()) {
    case ExistingMarker::Trusted:
        return false;
    case ExistingMarker::Foreign:
        LogMessage(L"Single-instance marker Global\\Kalnix is not owned by Administrators or SYSTEM: ignored\n");
        return true;
    case ExistingMarker::None:
        break;
    }
    return CreateSingleInstanceMarker();
}

// Read once: a policy set or removed later takes effect at the next start.
void ReadProtectionSettings() {
    DWORD mode = 0;
    DWORD delay = 0;
    ReadAppliedSettingDword(SettingId::Action, &mode, LocalRead::ProcessKey);
    ReadAppliedSettingDword(SettingId::AlarmTime, &delay, LocalRead::ProcessKey);
    // Stored as unsigned 32-bit values; kept as the same bits in signed form.
    SetProtectionSettings(static_cast<int>(mode), static_cast<int>(delay));
}

void BuildLogoRecord() {
    LogoRecord* record = static_cast<LogoRecord*>(calloc(1, sizeof(LogoRecord)));
    if (!record) return;
    if (PngImage* image = LoadLogoPng(IDR_LOGO)) {
        record->handle = CreateLogoBitmap(image);
        FreePngImage(image);
    }
    if (record->handle) GetObjectW(record->handle, sizeof(record->bitmap), &record->bitmap);
    g_logoRecord = record;  // lives until the process ends
}

int RunMessageLoop() {
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

bool IsFreshSwitch(const char* commandTail) {
    return commandTail && _stricmp(commandTail, "-fresh") == 0;
}

int RunTrayApplication(HINSTANCE instance, const char* commandTail) {
    // Without the service this Kalnix protects the laptop itself, which needs an administrator's
    // rights: an administrator whose rights User Account Control limited is asked, as Windows
    // asks for any program that needs them; a refusal ends this start.
    if (RunsAsLimitedAdministrator()) {
        StartKalnixElevated(nullptr, IsFreshSwitch(commandTail) ? L"-fresh" : L"");
        return 0;
    }
    if (!TakeSingleInstance()) return 0;

    if (IsFreshSwitch(commandTail)) {
        wcsncpy(g_pendingBalloonText, kFreshStartBalloon, kBalloonTextChars - 1);
        g_pendingBalloonText[kBalloonTextChars - 1] = L'\0';
    }
    ReadProtectionSettings();
    g_instance = instance;
    CreateTrayWindow(TrayLid::Sensed);
    // Without its window nothing could ever end the program (the setup program finds it by
    // that window), yet it would hold the single-instance marker: leave at once instead.
    if (!g_trayWindow) return 1;
    BuildLogoRecord();
    return RunMessageLoop();
}

int RunFace(HINSTANCE instance, const char* commandTail) {
    // One in each session: the name lives in the session's own namespace. A user who makes it
    // first keeps only their own session's icon away.
    ScopedHandle marker(CreateEventW(nullptr, FALSE, FALSE, kFaceMarkerName));
    if (!marker.valid() || GetLastError() == ERROR_ALREADY_EXISTS) return 0;
    if (IsFreshSwitch(commandTail)) {
        wcsncpy(g_pendingBalloonText, kFreshStartBalloon, kBalloonTextChars - 1);
        g_pendingBalloonText[kBalloonTextChars - 1] = L'\0';
    }
    SetProtectionElsewhere(true);
    ReadProtectionSettings();
    g_instance = instance;
    CreateFaceWindow();
    if (!g_trayWindow) return 1;
    BuildLogoRecord();
    return RunMessageLoop();
}

int RunElevatedDialog(HINSTANCE instance, bool more) {
    g_instance = instance;
    // The service puts what this dialog writes in force; where it is gone meanwhile, the dialog
    // still only writes, and the next Kalnix reads it.
    SetProtectionElsewhere(true);
    ReadProtectionSettings();
    if (more) ShowMoreSettingsDialog(nullptr);
    else DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, SettingsDialogProc, 0);
    return 0;
}

bool ProtectionServiceRegistered() {
    ScopedService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.valid()) return false;
    ScopedService service(OpenServiceW(manager.get(), kProtectionServiceName, SERVICE_QUERY_STATUS));
    return service.valid();
}
