#pragma once

#include <windows.h>

// What woke a sleeping laptop, named the way a person understands it. Pure: the records are
// read elsewhere (protect/wake_source.h), these only decide.

enum class WakeSourceKind {
    Unknown,         // nothing better is known; `name` keeps whatever text Windows gave
    Device,          // a device armed to wake the laptop; `instancePath` where known
    NetworkAdapter,  // a device that is a network adapter
    Keyboard,        // a keyboard, built in or not (see `builtIn`)
    Input,           // another input: mouse, touchpad, pen, touch (Modern Standby names no device)
    WakeTimer,       // a wake timer; `timerOwner` and `timerContext` say whose
    PowerButton,     // the power or sleep button
    Lid,             // the lid was opened
};

// Which of Windows' records answered.
enum class WakeRecord { None, ResumeEvent, StandbyExitEvent, LastWakeTool };

constexpr int kWakeNameChars = 320;
constexpr int kWakeDetailChars = 260;

struct WakeSource {
    WakeSourceKind kind;
    WakeRecord record;
    // Part of the laptop itself (enumerated by its firmware): the lid, its buttons, its own
    // keyboard. A person opening the laptop must still wake it, so such a source is never
    // to be kept from waking it.
    bool builtIn;
    wchar_t name[kWakeNameChars];  // "the network adapter Intel(R) Ethernet Connection I219-LM"
    // A device's name as Windows shows it ("Intel(R) Ethernet Connection I219-LM"), which its
    // power tool takes to switch the device's wake.
    wchar_t deviceName[kWakeDetailChars];
    wchar_t instancePath[kWakeDetailChars];
    wchar_t timerOwner[kWakeDetailChars];    // as Windows gives it
    wchar_t timerContext[kWakeDetailChars];  // the owner's reason, where it gave one
};

// A device, from its instance path (may be empty) and the name Windows shows for it
// (friendly name, else description). The lid, the power and sleep buttons and the firmware's
// keyboard are known by their ACPI identifiers; other keyboards and network adapters by the
// words of their names, which drivers give in English whatever the language of Windows.
void NameDevice(const wchar_t* instancePath, const wchar_t* deviceName, WakeSource* out);

// A wake timer from its owner ("[SERVICE] \Device\...\svchost.exe (SystemEventsBroker)") and
// context ("Windows will execute 'NT TASK\Microsoft\Windows\UpdateOrchestrator\Reboot' ..."):
// named by its scheduled task where the context names one, else by its service, process or
// driver. Windows Update's and automatic maintenance's own tasks are named as such.
void NameWakeTimer(const wchar_t* owner, const wchar_t* context, WakeSource* out);

// A Modern Standby exit reason (Windows' POWER_MONITOR_REQUEST_REASON). False, with the
// number kept in an unknown name, for a reason that names no source a person could act on.
bool NameStandbyExitReason(DWORD reason, WakeSource* out);

// Text Windows gave without saying what it is, kept as it is; "unknown" when there is none.
void NameUnknown(const wchar_t* text, WakeSource* out);
