#pragma once

#include <windows.h>

#include <cwchar>
#include <string>

// Catches every dialog box this thread tries to create and refuses it, so the dialog,
// whatever it does, never runs; counts the attempts and remembers the last one's owner and
// caption.
class DialogCatcher {
public:
    DialogCatcher() {
        count_ = 0;
        owner_ = nullptr;
        caption_.clear();
        hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~DialogCatcher() { UnhookWindowsHookEx(hook_); }
    DialogCatcher(const DialogCatcher&) = delete;
    DialogCatcher& operator=(const DialogCatcher&) = delete;
    int Count() const { return count_; }
    HWND Owner() const { return owner_; }
    const std::wstring& Caption() const { return caption_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND) {
            wchar_t className[16] = {};
            GetClassNameW(reinterpret_cast<HWND>(wParam), className, 16);
            if (wcscmp(className, L"#32770") == 0) {
                const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
                ++count_;
                owner_ = create->hwndParent;
                caption_ = IS_INTRESOURCE(create->lpszName) || !create->lpszName ? L"" : create->lpszName;
                return 1;  // refuse the creation
            }
        }
        return CallNextHookEx(hook_, code, wParam, lParam);
    }
    static inline HHOOK hook_ = nullptr;
    static inline int count_ = 0;
    static inline HWND owner_ = nullptr;
    static inline std::wstring caption_;
};
