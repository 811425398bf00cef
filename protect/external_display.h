#pragma once

#include <windows.h>

// Whether a closed laptop is docked or used closed: a display other than its own panel is in
// use, and no sleep is expected.

// What the laptop's displays are. Unreadable counts as an external display in use.
enum class Displays { LaptopOnly, External, Unreadable };

// What the host says they are right now (protect/protection_host.h); Unreadable where it
// cannot say.
Displays DisplaysNow();

// The tray program's own reading (protect/standalone_host.h): the console's layout where it
// can be read (not from a remote session, whose layout is its client's; not without access to
// the current desktop, as while the session is locked; not while it has no active path), else
// the monitors' connection records, which need no desktop. Unreadable only where neither
// source answers.
Displays ReadDisplays();

// True when an external display in use keeps the lid alarm quiet: only while the current
// power source's lid-close action is Do nothing (otherwise Windows sleeps, and a failure to
// is what the alarm is for), and unless the setting AlarmWithExternalDisplay is 1 (read at
// every use), for machines that must sleep even with a display attached. An unreadable
// layout keeps nothing quiet: the alarm works as it always did.
bool ExternalDisplayKeepsAlarmQuiet();
// Whether an output technology is the machine's own panel.
bool IsInternalOutput(DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY technology);
// Whether it is a monitor the laptop may be used with closed: neither its panel nor a
// virtual display (remote sessions, screen capture). Indirect wired displays (USB docks) are.
bool IsExternalOutput(DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY technology);
