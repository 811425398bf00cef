#pragma once

#include <windows.h>
#include <oleacc.h>

// Screen readers ask a window's accessible object for its role, and Windows' own object for
// a static control answers "text". Dynamic annotation (oleacc's property services) changes
// what that object answers, without an accessible object of Kalnix's own.

// Makes `window` report `role` (a ROLE_SYSTEM_ value) to screen readers: S_OK, or why not.
HRESULT AnnotateRole(HWND window, LONG role);
// Takes the annotation back; for a window that is going (WM_DESTROY).
HRESULT ClearRoleAnnotation(HWND window);
