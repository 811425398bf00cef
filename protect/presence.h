#pragma once

#include <windows.h>

// Whether someone may be at a closed laptop: keyboard and mouse input by a person, and whether
// the host speaks for the console session, where that person would be.

// Watches the keyboards and mice through the host while the lid is closed; nothing is watched
// while it is open. Starting a running watch changes nothing: what it saw is kept until it
// stops, whatever the displays did meanwhile. Where the host's watch cannot run, any input the
// session sees counts.
void StartInputWatch(HWND window);
void StopInputWatch();
// WM_INPUT: true, and noted, when the input is a person's. Input from a device is; so is input
// that a program injects (it comes with no device), since the on-screen keyboard, speech and
// eye control and remote-control tools in the console session inject theirs, unless it has a
// jiggler's pattern (protect/input_patterns.h). The repeats of a key held down are nobody's:
// its press and its release count, so a key held longer than RestAfter lets the rest proceed
// (logged once a closure).
bool NotePersonInput(HRAWINPUT input);
// A person's input the host heard elsewhere and judged by the same rules: noted now.
void NoteReportedInput();
constexpr ULONGLONG kNoInputSeen = ~0ull;

// What the watch and the host say now, as the rest decision takes it: the console's session
// or not, and the awake milliseconds since a person's input (since any input where the watch
// could not start; kNoInputSeen for none).
struct PresenceSeen {
    bool consoleSession;
    ULONGLONG msSinceInput;
};
PresenceSeen PresenceNow();
// The host's word: it speaks for the console session.
bool SpeaksForConsole();

// The tray program's own watch and session (protect/standalone_host.h): raw input on its window,
// also while it is in the background (WM_INPUT, RIDEV_INPUTSINK); and true in the session
// whose desktop is the laptop's own screen and keyboard, not a remote one, nor one a user
// switch has left.
bool StartRawInputWatch(HWND window);
void StopRawInputWatch();
// The same watch and rules for a host that runs elsewhere (the protection service, whose face
// in the console session watches and reports): begins afresh on `window`, without a run.
bool StartWatchForReports(HWND window);
void StopWatchForReports();
bool RunsInConsoleSession();
