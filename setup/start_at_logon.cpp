#include "setup/start_at_logon.h"

#include <windows.h>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "setup/custom_action_data.h"
#include "setup/exports.h"
#include "setup/rollback_record.h"
#include "setup/task_query.h"

namespace {

const wchar_t kTaskKind[] = L"task";
const wchar_t kStartRecord[] = L"start";
const wchar_t kRunKind[] = L"run";

// How long the Task Scheduler gets to register the task, in half seconds.
constexpr int kTaskWaitTicks = 40;
constexpr DWORD kTaskToolWaitMs = 30000;
// The task tool takes a definition's path of at most this many characters.
constexpr size_t kLongestTaskFilePath = 200;

std::wstring SystemTool(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return L"";
    return std::wstring(path) + L"\\" + name;
}

// Runs the task tool to delete the task "Kalnix" (/F: without it the tool would ask Y/N) and
// returns its exit code, or -1 when it could not be run to its end.
long DeleteTaskWithTool() {
    std::wstring tool = SystemTool(L"schtasks.exe");
    if (tool.empty()) return -1;
    std::wstring line = L"\"" + tool + L"\" /Delete /TN Kalnix /F";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(tool.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &started)) {
        LogFormatted(L"CA: CreateProcess failed: %d", static_cast<int>(GetLastError()));
        return -1;
    }
    ScopedHandle process(started.hProcess);
    ScopedHandle thread(started.hThread);
    if (WaitForSingleObject(process.get(), kTaskToolWaitMs) != WAIT_OBJECT_0) {
        LogMessage(L"CA: schtasks did not finish within 30 s");
        TerminateProcess(process.get(), 1);
        return -1;
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    return static_cast<long>(exitCode);
}

// The task definition's folder is always a new one: one already there may be another's.
bool RegisterTask(const std::wstring& kalnixExe, const std::wstring& workFolder, StepLog& log) {
    if (TaskIsRegistered()) {
        log.Line(L"The earlier task Kalnix could not be deleted.");
        return false;
    }
    if (workFolder.empty()) {
        log.Line(L"Task skipped: there is no folder only administrators can write for its definition.");
        return false;
    }
    std::wstring folder = workFolder + L"\\KalnixTask-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(GetTickCount());
    std::wstring file = folder + L"\\KalnixTask.xml";
    if (file.size() > kLongestTaskFilePath) {
        log.Line(L"Task skipped: the log folder's path is too long for the task tool.");
        return false;
    }
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        log.Line(L"Task skipped: " + folder + L" already exists.");
        return false;
    }
    if (!SecureFolder(folder.c_str())) {
        log.Line(L"Task skipped: could not create " + folder + L" for administrators only.");
        return false;
    }
    bool registered = false;
    if (!WriteTaskHead(file.c_str())) {
        log.Line(L"Task skipped: could not write " + file + L".");
    } else {
        bool started = InstallKalnixTask(file.c_str(), kalnixExe.c_str());
        log.Line(std::wstring(L"InstallKalnixTask: result ") + (started ? L"1." : L"0."));
        // The export only starts the task tool: wait for the task itself.
        for (int tick = 0; started && tick < kTaskWaitTicks && !registered; ++tick) {
            registered = TaskIsRegistered();
            if (!registered) Sleep(500);
        }
        log.Line(registered ? L"Task Kalnix registered." : L"Task Kalnix not registered.");
    }
    DeleteFileW(file.c_str());
    RemoveDirectoryW(folder.c_str());
    log.Line(L"Task definition removed.");
    return registered;
}

}  // namespace

StartAtLogonRecord RecordStartAtLogon(const std::wstring& taskExe) {
    if (TaskIsRegistered()) return {kTaskKind, taskExe};
    wchar_t command[1024];
    DWORD size = sizeof(command);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"Kalnix",
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, command, &size) == ERROR_SUCCESS) {
        return {kRunKind, command};
    }
    return {};
}

void PutBackStartAtLogon(const StartAtLogonRecord& record, const std::wstring& workFolder, StepLog& log) {
    if (record.kind == kTaskKind) {
        RegisterStartAtLogon(record.target, workFolder, log);
        return;
    }
    RemoveStartAtLogon(log);
    if (record.kind == kRunKind) {
        log.Line(std::wstring(L"SetRunKey: result ") + (SetRunKey(record.target.c_str()) ? L"1." : L"0."));
    }
}

LogonStart RegisterStartAtLogon(const std::wstring& kalnixExe, const std::wstring& workFolder, StepLog& log) {
    // One way only: a Run value left by an earlier installation would start Kalnix twice.
    log.Line(std::wstring(L"DeleteRunKey: result ") + (DeleteRunKey() ? L"1." : L"0."));
    log.Line(L"Earlier task Kalnix deleted: task tool exit code " + std::to_wstring(DeleteTaskWithTool()) + L".");
    if (RegisterTask(kalnixExe, workFolder, log)) return LogonStart::Task;
    bool written = SetRunKey((L"\"" + kalnixExe + L"\"").c_str());
    log.Line(std::wstring(L"SetRunKey: result ") + (written ? L"1." : L"0."));
    // Kalnix.exe asks for no rights of its own: Windows starts it from the Run value at every
    // log-on with the user's own rights, as the task does.
    if (written) {
        log.Line(L"Start at log-on by the Run value: Kalnix starts at each log-on with the user's own rights.");
        return LogonStart::RunValue;
    }
    log.Line(L"Kalnix will not start at log-on.");
    return LogonStart::None;
}

bool RemoveStartAtLogon(StepLog& log) {
    log.Line(L"Task tool asked to delete the task Kalnix: exit code " + std::to_wstring(DeleteTaskWithTool()) + L".");
    bool taskGone = TaskIsAbsent();
    if (!taskGone) {
        log.Line(L"The task Kalnix could not be deleted, or the Task Scheduler could not say that it is gone.");
    }
    bool runValueGone = DeleteRunKey();
    if (!runValueGone) log.Line(L"The Run value Kalnix could not be deleted.");
    return taskGone && runValueGone;
}

bool KeepStartForRollback(const std::wstring& run, const std::wstring& taskExe) {
    StartAtLogonRecord before = RecordStartAtLogon(taskExe);
    // A Run value no field can carry is none of Kalnix's: the change deletes it for good.
    std::wstring text;
    if (!AppendField(&text, data_field::kPreviousStart, before.kind) ||
        !AppendField(&text, data_field::kPreviousTarget, before.target)) {
        text.clear();
    }
    return SaveRollbackRecord(run, kStartRecord, text);
}

bool PutBackKeptStart(const std::wstring& run, const std::wstring& workFolder, StepLog& log) {
    std::wstring text;
    if (!ReadRollbackRecord(run, kStartRecord, &text)) return false;
    PutBackStartAtLogon({FieldOf(text, data_field::kPreviousStart), FieldOf(text, data_field::kPreviousTarget)},
                        workFolder, log);
    return true;
}
