#pragma once

#include "common/seam_clocks.h"
#include "common/seam_displays.h"
#include "common/seam_events.h"
#include "common/seam_power.h"
#include "common/seam_sessions.h"
#include "common/seam_shell.h"
#include "common/seam_sound.h"

// Saves every table of the seam (common/seam_*.h) and puts them back when the scope ends,
// whatever a test swapped in between and however it left (a failed ASSERT returns early).
// Scopes nest.
class PlatformScope {
public:
    PlatformScope()
        : power_(g_powerSeam), displays_(g_displaySeam), sessions_(g_sessionSeam), shell_(g_shellSeam),
          clocks_(g_clockSeam), events_(g_eventSeam), sound_(g_soundSeam) {}
    ~PlatformScope() {
        g_powerSeam = power_;
        g_displaySeam = displays_;
        g_sessionSeam = sessions_;
        g_shellSeam = shell_;
        g_clockSeam = clocks_;
        g_eventSeam = events_;
        g_soundSeam = sound_;
    }
    PlatformScope(const PlatformScope&) = delete;
    PlatformScope& operator=(const PlatformScope&) = delete;

private:
    PowerSeam power_;
    DisplaySeam displays_;
    SessionSeam sessions_;
    ShellSeam shell_;
    ClockSeam clocks_;
    EventSeam events_;
    SoundSeam sound_;
};
