#pragma once

#include <windows.h>

// What the protection code needs of the application, handed down by the application when
// its tray window is created: protect/ never includes app/.
struct ProtectionHost {
    // Receives the lid-state message and the power notifications; owns the timers.
    HWND window;
    // Shows a notification balloon through the tray icon.
    void (*showBalloon)(const wchar_t* text);
    // The protection tick's refresh of the icon in the enabled state.
    void (*refreshIcon)();
    // A lasting second line of the icon's tooltip (null removes it).
    void (*showNote)(const wchar_t* note);
};

// Zero until the application fills it; every callback may be null.
extern ProtectionHost g_protectionHost;
