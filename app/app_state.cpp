#include "app/app_state.h"

HINSTANCE g_instance = nullptr;
HWND g_trayWindow = nullptr;
int g_protectionMode = 0;
int g_alarmDelay = 0;
wchar_t g_pendingBalloonText[kBalloonTextChars] = {};
LogoRecord* g_logoRecord = nullptr;
