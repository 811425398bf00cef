#pragma once

#include <windows.h>

// The part of More settings that lists what may wake the closed laptop and what Kalnix
// changed of it: a row for each change Kalnix made (wake timers on battery, automatic
// maintenance) and for each device that woke the closed laptop on battery or that Kalnix keeps
// from waking it, with a button that keeps the selected device from waking the laptop and one
// that puts the selected change back. Nothing is written before OK: a change of wake timers or
// maintenance is put back through its box, a device through the list of those chosen
// (WakeDevicesOff), which the protection puts in force.

// Fills the list (IDC_WAKE_LIST) and its buttons, after the dialog's boxes are set.
void ShowWakeList(HWND dialog);
// The buttons, and the list's selection changing.
void OnWakeListButton(HWND dialog, int id);
void OnWakeListSelection(HWND dialog);
// A box of wake timers or maintenance was clicked: its row says what OK will do.
void OnWakeBoxClicked(HWND dialog);
// At OK: stores the devices chosen when the user changed them; true when it did.
bool StoreWakeDeviceChoices();
