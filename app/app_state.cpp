#include "app/app_state.h"

HINSTANCE g_instance = nullptr;
HWND g_trayWindow = nullptr;
wchar_t g_pendingBalloonText[kBalloonTextChars] = {};
LogoRecord* g_logoRecord = nullptr;
