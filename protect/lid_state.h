#pragma once

#include <windows.h>

// The lid's state as Kalnix knows it, and since when it is closed. One owner: the lid sources
// report to the protection modes, which note it here; everything else asks.

enum class LidState { Unknown, Closed, Open };

// A lid source's value (the lid-state message's wParam, the system's lid-switch data):
// kLidClosed or kLidOpen (protect/driver_contract.h); any other value says nothing.
LidState LidStateFromValue(ULONG_PTR value);

LidState CurrentLidState();
// A closing seen now starts a closure; a Kalnix that starts with the lid closed counts its
// closure from its own start.
enum class ClosureStart { Seen, AtStart };
void NoteLidClosed(ClosureStart start);
// Any other news of the lid: opened, unknown until the source tells again, or still closed in
// the same closure (after a wake).
void NoteLidState(LidState state);

// Since the closure began, without the time the laptop slept.
unsigned SecondsSinceLidClosed();
// The same as an event's insert: the number, and where the lid was closed before Kalnix
// started, a word that it counts from Kalnix's start.
void FormatSecondsSinceLidClosed(wchar_t* text, int chars);
