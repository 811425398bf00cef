#pragma once

#include <windows.h>

#include <msi.h>

#include <string>

#include "common/scoped_handle.h"

// The log of the package's actions, where the setup program and the uninstaller keep theirs:
// KalnixSetup.log or KalnixUninstall.log in the log folder that only administrators can write
// (%ProgramData%\Kalnix), made safe first; each action of a run appends to it in turn. Every
// line also goes to the Windows Installer's own log, and while the log is open this library's
// diagnostic lines go to Kalnix.log beside it. When the folder cannot be made safe, no file is
// written (the lines still reach the installer's log).
class StepLog {
public:
    StepLog(MSIHANDLE install, const std::wstring& folder, const wchar_t* name);
    ~StepLog();
    StepLog(const StepLog&) = delete;
    StepLog& operator=(const StepLog&) = delete;

    void Line(const std::wstring& text);
    // Names what the log folder's preparation renamed aside, now or in an earlier run: each is
    // something a user may have planted to have a log written where they chose.
    void NameWhatWasSetAside();
    // The secured log folder, "" when it could not be made safe.
    const std::wstring& Folder() const { return folder_; }

private:
    MSIHANDLE install_;
    std::wstring folder_;
    ScopedFile file_;
};

// The local time as the logs' first lines give it: "2024-05-31 17:04:09".
std::wstring LocalTimeText();
