#pragma once

#include <windows.h>

// The More settings dialog (template IDD_MORE_SETTINGS), opened from the tray menu: the rest
// after an unheard alarm (RestAfter), hibernation after a standby on battery (HibernateAfter),
// the standby drain alert (StandbyDrainAlert), the alarm with an external display in use
// (AlarmWithExternalDisplay), the diagnostic log (EnableLogging), wake timers on battery in
// automatic protection (WakeTimersOffOnBattery) and automatic maintenance's wake
// (MaintenanceWakeOff), each shown as Kalnix applies it; what may wake the closed laptop and
// what Kalnix changed of it (app/wake_list.h); and what Kalnix did at the last lid closures. OK writes only the settings the
// user changed, after checking every number the user edited; Cancel writes nothing. A setting
// Group Policy sets is shown with the policy's value, locked, "(set by your organization)".
INT_PTR CALLBACK MoreSettingsDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
// Runs the dialog modally over `owner`, once the common control its record needs is there.
void ShowMoreSettingsDialog(HWND owner);
