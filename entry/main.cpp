#include <windows.h>

#include <cstdlib>

#include "app/app_state.h"
#include "common/protection_service_names.h"
#include "common/settings_store.h"
#include "common/system_library.h"
#include "protect/lid_monitor.h"
#include "service/service_role.h"

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

bool Is(const char* commandTail, const char* switchText) {
    return commandTail && _stricmp(commandTail, switchText) == 0;
}

}  // namespace

// One program, four roles: the protection service; one settings dialog alone, elevated by a
// Kalnix beside the service; that Kalnix, the face of its session; or, where no service is
// installed, the tray program that protects the laptop itself.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    if (Is(commandTail, kServiceSwitch)) return RunProtectionService();
    if (Is(commandTail, "-settings")) return RunElevatedDialog(instance, false);
    if (Is(commandTail, "-moresettings")) return RunElevatedDialog(instance, true);
    if (ProtectionServiceRegistered()) return RunFace(instance, commandTail);
    return RunTrayApplication(instance, commandTail);
}
