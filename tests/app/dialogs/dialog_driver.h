#pragma once

#include <windows.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/platform_scope.h"

// Drives modal dialogs as a user would: the test thread sits in the dialog's modal loop
// while a second thread finds the dialog and sends or posts it messages.

// Runs `openModal` on this thread and `script` on a second one. Whatever dialog of this
// thread the script leaves open is closed afterwards, so a failed step cannot hang a test.
void DriveModal(const std::function<void()>& openModal, const std::function<void()>& script);

// The visible dialog window (#32770) of the modal thread with this caption and owner,
// waiting up to 5 s; null when none shows.
HWND WaitForDialog(const wchar_t* caption, HWND owner);
// The same, without waiting.
HWND FindDialog(const wchar_t* caption, HWND owner);
bool WaitUntilGone(HWND window);

std::wstring TextOf(HWND window);
// Texts of the visible children of a class ("Static", "Button").
std::wstring VisibleChildTexts(HWND parent, const wchar_t* className);

// `child` lies inside the dialog, clear of every other control.
void ExpectInFreeSpace(HWND dialog, HWND child);

// A key press posted to the window with the focus, so it passes the dialog manager.
void PostKey(HWND target, UINT virtualKey);
// The window of the modal thread that has the keyboard focus.
HWND FocusedWindow();
// A click that may open a nested modal loop: posted, never waited for.
void PostClick(HWND dialog, int id);
// A mouse click on a static control, as the control itself sees it.
void PostLinkClick(HWND dialog, int id);

// Dialog resources from this executable, the settings key of the test prefix opened as the
// tray application opens it.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// Records what the dialogs ask to open instead of starting a browser, for the life of the
// scope: Kalnix's own ShellExecuteW calls and its requests to the desktop's shell, which
// answers `desktopAnswer`.
struct OpenRequest {
    bool throughDesktop;  // the desktop's shell was asked; the fields below are ShellExecuteW's
    HWND owner;
    std::wstring verb, file;
    bool parameters, directory;
    INT show;
};
class OpenRecorder {
public:
    explicit OpenRecorder(HRESULT desktopAnswer = S_OK);
    int Count() const;
    OpenRequest Last() const;
private:
    PlatformScope platform_;
};

// oleacc's property services as the dialogs use them (Wine's answer every annotation with
// E_NOTIMPL): every annotation and its clearing recorded, and the references counted, which
// must all be released. Set g_shellSeam.createAccPropServices to CreateRecordingPropServices.
struct Annotation {
    HWND window;
    DWORD object, child;
    GUID property;
    VARTYPE type;
    LONG value;          // a number's
    std::wstring text;   // a string's
    bool cleared;
};
extern std::vector<Annotation> g_annotations;
extern LONG g_propServicesReferences;
HRESULT WINAPI CreateRecordingPropServices(IAccPropServices** services);

// The name a screen reader hears for an input nothing names itself, found as Windows finds it:
// the text of the nearest static control before it in the dialog's order (the search stops at
// a control that starts a group and is a tab stop), access key marks left out.
std::wstring NameFromLabel(HWND control);
// The access keys of a dialog's check boxes, radio buttons and labels, in the dialog's order,
// lower case, separated by spaces; "-" for a check box or radio button without one.
std::wstring AccessKeys(HWND dialog);
