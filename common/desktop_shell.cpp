#include "common/desktop_shell.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>

#include "common/com_library.h"

namespace {

// The shell's automation object of the desktop's folder view: the desktop window among the
// shell's windows, its browser, the active view, the view's background object, and that
// object's application. *window is the desktop's window.
HRESULT DesktopShellDispatch(const ComFunctions& com, IShellDispatch2** shell, HWND* window) {
    ComRef<IShellWindows> windows;
    HRESULT result = com.createInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                        windows.putVoid());
    if (FAILED(result)) return result;
    VARIANT location = {};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT root = {};
    root.vt = VT_EMPTY;
    LONG desktop = 0;
    ComRef<IDispatch> found;
    result = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &desktop, SWFO_NEEDDISPATCH, found.put());
    if (result != S_OK) return FAILED(result) ? result : E_FAIL;  // S_FALSE: no desktop window
    *window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(desktop));
    ComRef<IServiceProvider> services;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    ComRef<IShellFolderViewDual> folderView;
    ComRef<IDispatch> application;
    result = found->QueryInterface(IID_IServiceProvider, services.putVoid());
    if (SUCCEEDED(result)) result = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.putVoid());
    if (SUCCEEDED(result)) result = browser->QueryActiveShellView(view.put());
    if (SUCCEEDED(result)) result = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.putVoid());
    if (SUCCEEDED(result)) result = background->QueryInterface(IID_IShellFolderViewDual, folderView.putVoid());
    if (SUCCEEDED(result)) result = folderView->get_Application(application.put());
    if (SUCCEEDED(result)) result = application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(shell));
    return result;
}

}  // namespace

HRESULT WINAPI OpenThroughDesktopShell(const wchar_t* target) {
    const ComFunctions& com = Com();
    if (!com.initialize) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ComScope scope(com);
    if (!scope.Usable()) return CO_E_NOTINITIALIZED;
    ComRef<IShellDispatch2> shell;
    HWND desktop = nullptr;
    HRESULT result = DesktopShellDispatch(com, shell.put(), &desktop);
    if (FAILED(result)) return result;
    ComString file(com, target);
    ComString verb(com, L"open");
    if (!file.get() || !verb.get()) return E_OUTOFMEMORY;
    VARIANT none = {};
    none.vt = VT_EMPTY;
    VARIANT operation = {};
    operation.vt = VT_BSTR;
    operation.bstrVal = verb.get();
    VARIANT show = {};
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    // This process has the foreground (the user just clicked); the shell may pass it on to the
    // window it opens.
    DWORD shellProcess = 0;
    if (GetWindowThreadProcessId(desktop, &shellProcess)) AllowSetForegroundWindow(shellProcess);
    return shell->ShellExecute(file.get(), none, none, operation, show);
}
