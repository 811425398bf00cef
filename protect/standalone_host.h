#pragma once

#include <windows.h>

#include "protect/protection_host.h"

// The protection hosted by the tray program in the user's own session: power notifications to
// its window, the lid sensed by protect/ (protect/lid_source.h), the alarm's tones on the
// speaker, the sound output read for whether they can be heard, raw input on the window, the
// displays read from the session, the console judged by the session, and the display turned
// off through the window's own default handling. What the user sees (balloon, state, note) and
// whether the host may change the power policy are left to the caller.
ProtectionHost StandaloneHost(HWND window);
