#include <windows.h>

#include <cstdlib>

#include "app/app_state.h"
#include "common/settings_store.h"
#include "common/system_library.h"
#include "protect/lid_monitor.h"

namespace {

// Runs before WinMain. Libraries come from System32 only before anything loads one. Exit
// handlers run in reverse order: the settings key closes first, then the lid monitor stops.
struct ProcessInitialisers {
    ProcessInitialisers() {
        RestrictLibrarySearch();
        atexit(StopLidMonitor);
        OpenProcessSettingsKey();
        atexit(CloseProcessSettingsKey);
    }
};
ProcessInitialisers g_processInitialisers;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    return RunTrayApplication(instance, commandTail);
}
