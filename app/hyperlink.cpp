#include "app/hyperlink.h"

// Placeholder until the hyperlink controls land.
BOOL MakeStaticLink(HWND) { return TRUE; }
LRESULT CALLBACK LinkParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}
LRESULT CALLBACK LinkControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}
