#pragma once

#include <windows.h>
#include <oleacc.h>

// Screen readers ask a window's accessible object for its role and name: Windows' own object
// for a static control answers "text", and names an edit box after the static text before
// it. Dynamic annotation (oleacc's property services) changes what that object answers,
// without an accessible object of Kalnix's own.

// Makes `window` report `role` (a ROLE_SYSTEM_ value) to screen readers: S_OK, or why not.
HRESULT AnnotateRole(HWND window, LONG role);
// Takes the annotation back; for a window that is going (WM_DESTROY).
HRESULT ClearRoleAnnotation(HWND window);
// Makes `window` report `name` to screen readers, in place of the one Windows finds for it.
HRESULT AnnotateName(HWND window, const wchar_t* name);
HRESULT ClearNameAnnotation(HWND window);
