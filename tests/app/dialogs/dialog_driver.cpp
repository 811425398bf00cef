#include "dialog_driver.h"

#include <atomic>
#include <cwctype>
#include <mutex>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "common/seam_shell.h"
#include "common/settings_store.h"
#include "support/test_support.h"

namespace {

std::atomic<DWORD> g_modalThread{0};

// Without a window manager on the test display, Wine waits 2 s for each hidden top-level
// window to be withdrawn; unmanaged windows are hidden at once. Set before the display
// driver loads, for this program only.
struct UnmanagedWindows {
    UnmanagedWindows() {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\app_dialog_tests.exe\\X11 Driver", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        if (!key) return;
        RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t));
        RegCloseKey(key);
    }
} g_unmanagedWindows;

bool HasClass(HWND window, const wchar_t* className) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return lstrcmpiW(name, className) == 0;
}

BOOL CALLBACK CollectVisibleDialog(HWND window, LPARAM list) {
    if (HasClass(window, L"#32770") && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleDialogs() {
    std::vector<HWND> found;
    EnumThreadWindows(g_modalThread, CollectVisibleDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::mutex g_openMutex;
std::vector<OpenRequest> g_openRequests;
HRESULT g_desktopAnswer = S_OK;

HINSTANCE WINAPI RecordShellExecute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                    LPCWSTR directory, INT show) {
    std::lock_guard<std::mutex> lock(g_openMutex);
    g_openRequests.push_back({false, owner, verb ? verb : L"(null)", file ? file : L"(null)",
                              parameters != nullptr, directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(33);
}

HRESULT WINAPI RecordDesktopOpen(const wchar_t* target) {
    std::lock_guard<std::mutex> lock(g_openMutex);
    g_openRequests.push_back({true, nullptr, L"", target ? target : L"(null)", false, false, 0});
    return g_desktopAnswer;
}

}  // namespace

void DriveModal(const std::function<void()>& openModal, const std::function<void()>& script) {
    g_modalThread = GetCurrentThreadId();
    std::atomic<bool> returned{false};
    std::thread driver([&] {
        script();
        // WM_CLOSE ends every dialog here: the close box of the status dialog, Cancel of
        // the settings dialog, OK of the message box.
        WaitUntil([&] {
            for (HWND dialog : VisibleDialogs()) PostMessageW(dialog, WM_CLOSE, 0, 0);
            return returned.load();
        }, 10000);
    });
    openModal();
    returned = true;
    driver.join();
}

HWND WaitForDialog(const wchar_t* caption, HWND owner) {
    HWND match = nullptr;
    WaitUntil([&] { return (match = FindDialog(caption, owner)) != nullptr; }, 5000);
    return match;
}

HWND FindDialog(const wchar_t* caption, HWND owner) {
    HWND match = nullptr;
    for (HWND dialog : VisibleDialogs()) {
        if (GetWindow(dialog, GW_OWNER) == owner && TextOf(dialog) == caption) match = dialog;
    }
    return match;
}

bool WaitUntilGone(HWND window) {
    return WaitUntil([&] { return !IsWindow(window); }, 5000);
}

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

std::wstring VisibleChildTexts(HWND parent, const wchar_t* className) {
    std::wstring texts;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!HasClass(child, className) || !IsWindowVisible(child)) continue;
        std::wstring text = TextOf(child);
        if (text.empty()) continue;
        texts += (texts.empty() ? L"" : L"|") + text;
    }
    return texts;
}

void ExpectInFreeSpace(HWND dialog, HWND child) {
    RECT place, client, other, overlap;
    GetWindowRect(child, &place);
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    EXPECT_TRUE(IntersectRect(&overlap, &place, &client) && EqualRect(&overlap, &place)) << GetDlgCtrlID(child);
    for (HWND sibling = GetWindow(dialog, GW_CHILD); sibling; sibling = GetWindow(sibling, GW_HWNDNEXT)) {
        if (sibling == child) continue;
        GetWindowRect(sibling, &other);
        EXPECT_FALSE(IntersectRect(&overlap, &place, &other)) << GetDlgCtrlID(sibling) << " under " << GetDlgCtrlID(child);
    }
}

HWND FocusedWindow() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(g_modalThread, &info) ? info.hwndFocus : nullptr;
}

void PostKey(HWND target, UINT virtualKey) {
    if (HWND focus = FocusedWindow()) target = focus;
    PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(target, WM_KEYUP, virtualKey, 0xC0000001);
}

void PostClick(HWND dialog, int id) {
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void PostLinkClick(HWND dialog, int id) {
    HWND link = GetDlgItem(dialog, id);
    PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    PostMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

namespace {

// The text with "&&" as "&" and a single "&" (the access key's mark) left out; the key in *key.
std::wstring Spoken(const std::wstring& text, wchar_t* key = nullptr) {
    std::wstring spoken;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && ++i < text.size() && text[i] != L'&' && key) *key = static_cast<wchar_t>(towlower(text[i]));
        if (i < text.size()) spoken += text[i];
    }
    return spoken;
}

LONG StyleOf(HWND window) { return GetWindowLongW(window, GWL_STYLE); }

}  // namespace

std::wstring NameFromLabel(HWND control) {
    for (HWND before = GetWindow(control, GW_HWNDPREV); before; before = GetWindow(before, GW_HWNDPREV)) {
        if (HasClass(before, L"Static") && (StyleOf(before) & SS_TYPEMASK) <= SS_RIGHT) return Spoken(TextOf(before));
        if ((StyleOf(before) & (WS_GROUP | WS_TABSTOP)) == (WS_GROUP | WS_TABSTOP)) break;
    }
    return L"";
}

std::wstring AccessKeys(HWND dialog) {
    std::wstring keys;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG type = StyleOf(child) & BS_TYPEMASK;
        const bool choice = HasClass(child, L"Button") && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX ||
                                                           type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON);
        const bool label = HasClass(child, L"Static") && !(StyleOf(child) & SS_NOPREFIX);
        if (!choice && !label) continue;
        wchar_t key = 0;
        Spoken(TextOf(child), &key);
        if (!key && !choice) continue;
        keys += (keys.empty() ? L"" : L" ") + std::wstring(1, key ? key : L'-');
    }
    return keys;
}

void DialogTest::SetUp() {
    g_instance = GetModuleHandleW(nullptr);
    ResetSettingsKey();
    OpenProcessSettingsKey();
}

void DialogTest::TearDown() {
    CloseProcessSettingsKey();
}

OpenRecorder::OpenRecorder(HRESULT desktopAnswer) {
    std::lock_guard<std::mutex> lock(g_openMutex);
    g_openRequests.clear();
    g_desktopAnswer = desktopAnswer;
    g_shellSeam.shellExecute = RecordShellExecute;
    g_shellSeam.openThroughDesktopShell = RecordDesktopOpen;
}

int OpenRecorder::Count() const {
    std::lock_guard<std::mutex> lock(g_openMutex);
    return static_cast<int>(g_openRequests.size());
}

OpenRequest OpenRecorder::Last() const {
    std::lock_guard<std::mutex> lock(g_openMutex);
    return g_openRequests.empty() ? OpenRequest{} : g_openRequests.back();
}

std::vector<Annotation> g_annotations;
LONG g_propServicesReferences = 0;

namespace {

class RecordingPropServices : public IAccPropServices {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++g_propServicesReferences; }
    ULONG STDMETHODCALLTYPE Release() override { return --g_propServicesReferences; }
    HRESULT STDMETHODCALLTYPE SetHwndProp(HWND window, DWORD object, DWORD child, MSAAPROPID property,
                                          VARIANT value) override {
        g_annotations.push_back({window, object, child, property, value.vt, value.lVal, L"", false});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ClearHwndProps(HWND window, DWORD object, DWORD child, const MSAAPROPID* properties,
                                             int count) override {
        for (int i = 0; i < count; ++i)
            g_annotations.push_back({window, object, child, properties[i], VT_EMPTY, 0, L"", true});
        return S_OK;
    }
    // Nothing else is asked of it.
    HRESULT STDMETHODCALLTYPE SetPropValue(const BYTE*, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPropServer(const BYTE*, DWORD, const MSAAPROPID*, int, IAccPropServer*,
                                            AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ClearProps(const BYTE*, DWORD, const MSAAPROPID*, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHwndPropStr(HWND window, DWORD object, DWORD child, MSAAPROPID property,
                                             LPCWSTR text) override {
        g_annotations.push_back({window, object, child, property, VT_BSTR, 0, text ? text : L"(null)", false});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHwndPropServer(HWND, DWORD, DWORD, const MSAAPROPID*, int, IAccPropServer*,
                                                AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ComposeHwndIdentityString(HWND, DWORD, DWORD, BYTE**, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DecomposeHwndIdentityString(const BYTE*, DWORD, HWND*, DWORD*, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHmenuProp(HMENU, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHmenuPropStr(HMENU, DWORD, MSAAPROPID, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHmenuPropServer(HMENU, DWORD, const MSAAPROPID*, int, IAccPropServer*,
                                                 AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ClearHmenuProps(HMENU, DWORD, const MSAAPROPID*, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ComposeHmenuIdentityString(HMENU, DWORD, BYTE**, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DecomposeHmenuIdentityString(const BYTE*, DWORD, HMENU*, DWORD*) override {
        return E_NOTIMPL;
    }
} g_propServices;

}  // namespace

HRESULT WINAPI CreateRecordingPropServices(IAccPropServices** services) {
    g_propServices.AddRef();
    *services = &g_propServices;
    return S_OK;
}
