#include "setup/task_service.h"

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

// COM on the calling thread while this lives; a thread that has it already in the other model
// keeps it, and can still create the in-process task service.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

HRESULT Failed(const wchar_t* call, HRESULT result) {
    LogFormatted(L"CA: %ls failed: %d", call, static_cast<int>(result));
    return result;
}

// The registered task "Kalnix" of the scheduler's root folder, through the service of this
// computer and account. A missing task is answered, not logged: the uninstaller asks for it.
HRESULT OpenKalnixTask(IRegisteredTask** task) {
    ScopedCom<ITaskService> service;
    HRESULT result = CoCreateInstance(__uuidof(TaskScheduler), nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskService),
                                      reinterpret_cast<void**>(service.put()));
    if (FAILED(result)) return Failed(L"CoCreateInstance", result);
    VARIANT local;
    VariantInit(&local);
    result = service.get()->Connect(local, local, local, local);
    if (FAILED(result)) return Failed(L"ITaskService::Connect", result);
    ScopedString rootName(SysAllocString(L"\\"));
    ScopedString taskName(SysAllocString(L"Kalnix"));
    if (!rootName.valid() || !taskName.valid()) return Failed(L"SysAllocString", E_OUTOFMEMORY);
    ScopedCom<ITaskFolder> root;
    result = service.get()->GetFolder(rootName.get(), root.put());
    if (FAILED(result)) return Failed(L"ITaskService::GetFolder", result);
    result = root.get()->GetTask(taskName.get(), task);
    if (FAILED(result) && result != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) Failed(L"ITaskFolder::GetTask", result);
    return result;
}

}  // namespace

TaskServiceCalls g_taskService = {&RunRegisteredTask};

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
    ComScope com;
    if (!com.Usable()) {
        Failed(L"CoInitializeEx", com.Result());
        return false;
    }
    ScopedCom<IRegisteredTask> task;
    HRESULT result = OpenKalnixTask(task.put());
    if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) LogMessage(L"CA: No task Kalnix");
    if (FAILED(result)) return false;
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(kFreshSwitch);
    if (!argument.bstrVal) {
        Failed(L"SysAllocString", E_OUTOFMEMORY);
        return false;
    }
    // The scheduler starts the task as the user of this session, with that user's own token
    // at the highest level the user has: never this program's, which may be an
    // administrator's typed in at a standard user's elevation prompt.
    ScopedCom<IRunningTask> running;
    result = g_taskService.runEx(task.get(), argument, kTaskRunInSession, static_cast<LONG>(session), nullptr,
                                 running.put());
    VariantClear(&argument);
    if (FAILED(result)) {
        Failed(L"IRegisteredTask::RunEx", result);
        return false;
    }
    return true;
}

bool __stdcall TaskIsAbsent() {
    LogMessage(L"CA: Entering TaskIsAbsent");
    ComScope com;
    if (!com.Usable()) {
        Failed(L"CoInitializeEx", com.Result());
        return false;
    }
    ScopedCom<IRegisteredTask> task;
    return OpenKalnixTask(task.put()) == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}
