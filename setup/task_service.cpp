#include "setup/task_service.h"

#include <new>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "setup/exports.h"

namespace {

template <class Interface>
struct ComTraits {
    using Handle = Interface*;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { h->Release(); }
};
template <class Interface>
using ScopedCom = Scoped<ComTraits<Interface>>;

struct StringTraits {
    using Handle = BSTR;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { SysFreeString(h); }
};
using ScopedString = Scoped<StringTraits>;

// What the action's $(Arg0) becomes when the setup program runs the task: the balloon that
// says Kalnix is now running. At log-on nothing fills it, and Kalnix shows no balloon.
constexpr wchar_t kFreshSwitch[] = L"-fresh";

HRESULT RunRegisteredTask(IRegisteredTask* task, VARIANT arguments, LONG flags, LONG session, BSTR user,
                          IRunningTask** running) {
    return task->RunEx(arguments, flags, session, user, running);
}

// The scheduler's interface has no time-out of its own, and a service that never answers would
// hold the setup program, or the Windows Installer's removal, for ever: this long is waited for
// an answer, which a busy service gives in a few seconds.
constexpr DWORD kAnswerLimitMs = 60000;

// One question to the Task Scheduler, asked on a thread of its own. The caller and that thread
// both hold it and whichever lets go last frees it, so a caller that stopped waiting frees
// nothing the thread still writes. The thread logs nothing: its caller may have moved on.
struct SchedulerQuestion {
    LONG holders;
    bool run;                   // run the task "Kalnix" for `session`, else only look for it
    DWORD session;
    HRESULT result;
    const wchar_t* failedCall;  // the call that failed, when one did
};

void LetGo(SchedulerQuestion* question) {
    if (InterlockedDecrement(&question->holders) == 0) delete question;
}

HRESULT Fail(SchedulerQuestion* question, const wchar_t* call, HRESULT result) {
    question->failedCall = call;
    return result;
}

// The registered task "Kalnix" of the scheduler's root folder, through the service of this
// computer and account. A missing task is an answer, not a failure: the uninstaller asks for it.
HRESULT OpenKalnixTask(SchedulerQuestion* question, IRegisteredTask** task) {
    ScopedCom<ITaskService> service;
    HRESULT result = CoCreateInstance(__uuidof(TaskScheduler), nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskService),
                                      reinterpret_cast<void**>(service.put()));
    if (FAILED(result)) return Fail(question, L"CoCreateInstance", result);
    VARIANT local;
    VariantInit(&local);
    result = service.get()->Connect(local, local, local, local);
    if (FAILED(result)) return Fail(question, L"ITaskService::Connect", result);
    ScopedString rootName(SysAllocString(L"\\"));
    ScopedString taskName(SysAllocString(L"Kalnix"));
    if (!rootName.valid() || !taskName.valid()) return Fail(question, L"SysAllocString", E_OUTOFMEMORY);
    ScopedCom<ITaskFolder> root;
    result = service.get()->GetFolder(rootName.get(), root.put());
    if (FAILED(result)) return Fail(question, L"ITaskService::GetFolder", result);
    result = root.get()->GetTask(taskName.get(), task);
    if (FAILED(result) && result != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) Fail(question, L"ITaskFolder::GetTask", result);
    return result;
}

HRESULT RunTheTask(SchedulerQuestion* question, IRegisteredTask* task) {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(kFreshSwitch);
    if (!argument.bstrVal) return Fail(question, L"SysAllocString", E_OUTOFMEMORY);
    // The scheduler starts the task as the user of this session, with that user's own token
    // at the highest level the user has: never this program's, which may be an
    // administrator's typed in at a standard user's elevation prompt.
    ScopedCom<IRunningTask> running;
    HRESULT result = g_taskService.runEx(task, argument, kTaskRunInSession, static_cast<LONG>(question->session),
                                         nullptr, running.put());
    VariantClear(&argument);
    return FAILED(result) ? Fail(question, L"IRegisteredTask::RunEx", result) : result;
}

HRESULT Ask(SchedulerQuestion* question) {
    ScopedCom<IRegisteredTask> task;
    HRESULT result = OpenKalnixTask(question, task.put());
    if (FAILED(result) || !question->run) return result;
    return RunTheTask(question, task.get());
}

// The caller took a reference to this library for the thread, which gives it back as it ends:
// the library stays loaded while a thread its caller stopped waiting for still runs in it.
DWORD WINAPI AskOnOwnThread(void* parameter) {
    auto* question = static_cast<SchedulerQuestion*>(parameter);
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&AskOnOwnThread), &self);
    // A thread of its own, with no window to serve: the multithreaded apartment.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    question->result = FAILED(com) ? Fail(question, L"CoInitializeEx", com) : Ask(question);
    if (SUCCEEDED(com)) CoUninitialize();
    LetGo(question);
    FreeLibraryAndExitThread(self, 0);
}

// The answer to `question`, or a failure logged when there is none within the limit.
HRESULT AskWithinLimit(bool run, DWORD session) {
    auto* question = new (std::nothrow) SchedulerQuestion{2, run, session, E_FAIL, nullptr};
    if (!question) {
        LogFormatted(L"CA: new failed: %d", static_cast<int>(E_OUTOFMEMORY));
        return E_OUTOFMEMORY;
    }
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&AskOnOwnThread),
                            &self)) {
        LogFormatted(L"CA: GetModuleHandleEx failed: %d", static_cast<int>(GetLastError()));
        delete question;
        return E_FAIL;
    }
    ScopedHandle thread(CreateThread(nullptr, 0, AskOnOwnThread, question, 0, nullptr));
    if (!thread.valid()) {
        LogFormatted(L"CA: CreateThread failed: %d", static_cast<int>(GetLastError()));
        FreeLibrary(self);
        delete question;
        return E_FAIL;
    }
    HRESULT result = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    if (WaitForSingleObject(thread.get(), g_taskService.answerLimitMs) == WAIT_OBJECT_0) {
        result = question->result;
        if (question->failedCall) {
            LogFormatted(L"CA: %ls failed: %d", question->failedCall, static_cast<int>(result));
        }
    } else {
        LogFormatted(L"CA: The Task Scheduler did not answer within %d s",
                     static_cast<int>(g_taskService.answerLimitMs / 1000));
    }
    LetGo(question);
    return result;
}

}  // namespace

TaskServiceCalls g_taskService = {&RunRegisteredTask, kAnswerLimitMs};

bool __stdcall RunKalnixTask() {
    LogMessage(L"CA: Entering RunKalnixTask");
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        LogFormatted(L"CA: ProcessIdToSessionId failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    return RunKalnixTaskInSession(session);
}

bool RunKalnixTaskInSession(DWORD session) {
    HRESULT result = AskWithinLimit(true, session);
    if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) LogMessage(L"CA: No task Kalnix");
    return SUCCEEDED(result);
}

bool __stdcall TaskIsAbsent() {
    LogMessage(L"CA: Entering TaskIsAbsent");
    return AskWithinLimit(false, 0) == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}
