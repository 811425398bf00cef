#include <windows.h>

#include <string>
#include <vector>

#include "setup/custom_action_data.h"
#include "setup/event_source.h"
#include "setup/exports.h"
#include "setup/msi_session.h"
#include "setup/package_actions.h"
#include "setup/package_options.h"
#include "setup/settings_snapshot.h"
#include "setup/setup_program_takeover.h"
#include "setup/start_at_logon.h"

namespace {

const wchar_t kLocalSystemSid[] = L"S-1-5-18";

// A directory property ends in a backslash, and may hold "." or ".." as /D= may.
std::wstring FolderOf(MSIHANDLE install, const wchar_t* property) {
    std::wstring folder = MsiProperty(install, property);
    wchar_t full[MAX_PATH * 2];
    DWORD length = folder.empty() ? 0 : GetFullPathNameW(folder.c_str(), MAX_PATH * 2, full, nullptr);
    if (length > 0 && length < MAX_PATH * 2) folder = full;
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

const wchar_t* Flag(bool value) { return value ? L"1" : L"0"; }

// Fails the installation before anything has changed; the line names the property.
UINT Refuse(MSIHANDLE install, const std::wstring& line) {
    WriteMsiLogLine(install, line + L" Nothing was changed.");
    return ERROR_INSTALL_FAILURE;
}

struct Options {
    std::wstring mode, alarmTime;
};

UINT CheckOptions(MSIHANDLE install, Options* options) {
    DWORD value = 0;
    options->mode = MsiProperty(install, L"MODE");
    if (!options->mode.empty() && !ParseModeOption(options->mode, &value)) {
        return Refuse(install, L"MODE=" + options->mode +
                                   L" is refused: it must be 1 (automatic protection) or 2 (lid alarm).");
    }
    options->alarmTime = MsiProperty(install, L"ALARMTIME");
    if (!options->alarmTime.empty()) {
        if (!ParseAlarmTimeOption(options->alarmTime, &value)) {
            return Refuse(install, L"ALARMTIME=" + options->alarmTime +
                                       L" is refused: it must be a number of seconds from 5 to 60.");
        }
        options->alarmTime = std::to_wstring(value);
    }
    return ERROR_SUCCESS;
}

bool HandOver(MSIHANDLE install, const wchar_t* action, const std::wstring& data) {
    return SetMsiProperty(install, action, data);
}

// What starts Kalnix at log-on now, for the rollback of a change to it.
bool AppendRecordedStart(std::wstring* data, const std::wstring& taskFolder) {
    StartAtLogonRecord before = RecordStartAtLogon(taskFolder + L"\\Kalnix.exe");
    // A Run value no field can carry is none of Kalnix's: the change deletes it for good.
    if (before.target.find(kFieldSeparator) != std::wstring::npos) before = {};
    return AppendField(data, data_field::kPreviousStart, before.kind) &&
           AppendField(data, data_field::kPreviousTarget, before.target);
}

DWORD SessionOfThisProcess() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

UINT PlanInstallation(MSIHANDLE install, const std::wstring& common) {
    using namespace data_field;
    Options options;
    UINT checked = CheckOptions(install, &options);
    if (checked != ERROR_SUCCESS) return checked;
    const std::wstring folder = FieldOf(common, kFolder);
    bool ok = true;

    std::wstring secure = common;
    SetupProgramInstall setup = FindSetupProgramInstall();
    ok = ok && AppendField(&secure, kSetupFound, Flag(setup.found)) && AppendField(&secure, kSetupFolder, setup.folder);
#ifdef _WIN64
    SetupProgramInstall x86 = FindEarlierX86Install(FolderOf(install, L"ProgramFilesFolder"));
    ok = ok && AppendField(&secure, kProgramFiles, FolderOf(install, L"ProgramFiles64Folder")) &&
         AppendField(&secure, kOtherProgramFiles, FolderOf(install, L"ProgramFilesFolder"));
#else
    SetupProgramInstall x86;
    ok = ok && AppendField(&secure, kProgramFiles, FolderOf(install, L"ProgramFilesFolder"));
#endif
    ok = ok && AppendField(&secure, kX86Found, Flag(x86.found)) && AppendField(&secure, kX86Folder, x86.folder) &&
         AppendField(&secure, kWindows, FolderOf(install, L"WindowsFolder"));
    ok = ok && HandOver(install, L"SecureKalnixFolder", secure);
    std::wstring undoFolder = common;
    bool folderExisted = GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
    ok = ok && AppendField(&undoFolder, kFolderExisted, Flag(folderExisted));
    ok = ok && HandOver(install, L"UndoKalnixFolder", undoFolder);

    std::vector<SettingValue> values;
    bool keyExisted = ReadSettingsKey(&values);
    std::wstring settings = common;
    ok = ok && AppendField(&settings, kMode, options.mode) && AppendField(&settings, kAlarmTime, options.alarmTime) &&
         AppendField(&settings, kSettingsKey, Flag(keyExisted)) &&
         AppendField(&settings, kSettings, EncodeSettings(values)) &&
         AppendField(&settings, kX86Found, Flag(x86.found));
    ok = ok && HandOver(install, L"WriteKalnixSettings", settings) &&
         HandOver(install, L"UndoKalnixSettings", settings);

    ok = ok && HandOver(install, L"RegisterKalnixStart", common);
    // A task there starts the installation this one takes over, else this folder's Kalnix.
    std::wstring taskFolder = folder;
    if (setup.found && !setup.folder.empty()) {
        taskFolder = setup.folder;
    } else if (x86.found && !x86.folder.empty()) {
        taskFolder = x86.folder;
    }
    std::wstring undoStart = common;
    ok = ok && AppendRecordedStart(&undoStart, taskFolder);
    ok = ok && HandOver(install, L"UndoKalnixStart", undoStart);

    ok = ok && HandOver(install, L"RegisterKalnixEvents", common);
    std::wstring messageFile, undoEvents = common;
    bool hadEvents = ReadKalnixEventSource(&messageFile);
    ok = ok && AppendField(&undoEvents, kHadEvents, Flag(hadEvents)) && AppendField(&undoEvents, kEvents, messageFile);
    ok = ok && HandOver(install, L"UndoKalnixEvents", undoEvents);

    ok = ok && HandOver(install, L"CompleteKalnixTakeOver", secure);
    std::wstring start = common;
    ok = ok && AppendField(&start, kSystem, Flag(MsiProperty(install, L"UserSID") == kLocalSystemSid)) &&
         AppendField(&start, kSession, std::to_wstring(SessionOfThisProcess()));
    ok = ok && HandOver(install, L"StartKalnixForUser", start);
    if (!ok) WriteMsiLogLine(install, L"Kalnix's installation could not be planned.");
    return ok ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

UINT PlanRemoval(MSIHANDLE install, const std::wstring& common) {
    std::wstring restore = common;
    bool ok = AppendRecordedStart(&restore, FieldOf(common, data_field::kFolder));
    ok = ok && HandOver(install, L"StopKalnix", common) && HandOver(install, L"RemoveKalnixStart", common) &&
         HandOver(install, L"RestoreKalnixStart", restore) && HandOver(install, L"RemoveKalnixSettings", common);
    return ok ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

UINT __stdcall PlanKalnixPackage(MSIHANDLE install) {
    if (!MsiCallsAvailable()) return ERROR_INSTALL_FAILURE;
    std::wstring folder = FolderOf(install, L"INSTALLFOLDER");
    std::wstring common;
    if (!AppendField(&common, data_field::kFolder, folder)) {
        return Refuse(install, L"INSTALLFOLDER=" + folder + L" is refused: it is not a folder's path.");
    }
    std::wstring logFolder = FolderOf(install, L"CommonAppDataFolder");
    bool ok = AppendField(&common, data_field::kLogFolder, logFolder.empty() ? L"" : logFolder + L"\\Kalnix") &&
              AppendField(&common, data_field::kVersion, MsiProperty(install, L"ProductVersion"));
    if (!ok) return ERROR_INSTALL_FAILURE;
    if (MsiProperty(install, L"REMOVE") == L"ALL") return PlanRemoval(install, common);
    return PlanInstallation(install, common);
}
