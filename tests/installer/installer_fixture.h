#pragma once

// What the installer tests share: KalnixSetup-<arch>.exe and its uninstaller, run silently as a
// fleet would. Each test runs in a fresh copy of a pristine Wine prefix (fresh-prefix.sh) whose
// system32 holds the stand-in power profile library, so the test program, the setup program,
// Kalnix.exe and the uninstaller all see the same global power policy.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/installed_kalnix.h"

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalnix";
const wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kalnix";
const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring SystemPath(const wchar_t* tail);

DWORD RunSetup(const wchar_t* program, const std::wstring& options);
DWORD RunSetup(const std::wstring& options);
DWORD RunSetupWithDriver(const std::wstring& options);

// The uninstaller hands over to a temporary copy of itself and returns at once; removing the
// install folder is its last file step, the Apps & Features entry its very last.
bool RunUninstallAndWait(const std::wstring& folder = InstallDir());

DWORD ReadDword(HKEY root, const wchar_t* key, const wchar_t* value);

// Every test starts from the user's own power policy, which the protection service sees too.
class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        PresetUserPolicy();
        LetServicesUseThePowerStandin();
    }
};
using SilentInstall = InstallerTest;
using Reinstall = InstallerTest;
using SilentUninstall = InstallerTest;
using BadOptions = InstallerTest;

// SERVICE_RUNNING, SERVICE_STOPPED, ..., or 0 when there is no service "Kalnix".
DWORD ServiceState();

std::string Narrow(const std::wstring& text);

bool SetupLogHas(const char* line);

bool TaskFileLeft(const std::wstring& folder);

// The running service has started Kalnix in every signed-in session (none under Wine, which
// names no session): the setup program starts none.
const char kStartedByTheService[] =
    "The protection service starts Kalnix in every signed-in session: the task Kalnix is not run.\r\n";

// Nothing of Kalnix is left, though `folder` itself may be.
void ExpectNothingInstalledBut(const std::wstring& folder);

void ExpectNothingInstalled();

// A task tool that does nothing: it registers no task, and deletes none.
void MakeTheTaskToolInert();
