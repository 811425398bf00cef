#pragma once

#include <windows.h>

// Which keyboard and mouse input is no person: the rules alone, on records as raw input gives
// them and times on the clock that does not count sleep. The input watch (protect/presence.h)
// keeps what the rules remember.

// A key held down: the keyboard repeats it until it is released. Only the press and the
// release are a person's doing; a key held in a bag repeats without end.
struct HeldKey {
    bool down;
    DWORD key;  // the virtual key, scan code and its prefix
    ULONGLONG sinceMs;
};
enum class KeyStroke { Press, Repeat, Release };
KeyStroke NoteKeyStroke(HeldKey* held, const RAWKEYBOARD& keyboard, ULONGLONG nowMs);

// A jiggler's nudge: injected input (no device) that is a pointer move of at most kNudgePixels
// each way with no button or wheel, or a press or release of one and the same key. Nudges less
// than kNudgeBurstMs apart are one burst (a move and the move back). A jiggler's bursts come at
// a steady period: the last kSteadyIntervals intervals between the starts of bursts each differ
// from their mean by less than kSteadyPercent percent of it.
constexpr LONG kNudgePixels = 4;
constexpr ULONGLONG kNudgeBurstMs = 1000;
constexpr int kSteadyIntervals = 3;
constexpr ULONGLONG kSteadyPercent = 10;

struct NudgeHistory {
    bool pointer;    // the bursts' kind: pointer moves, or the one key in `key`
    DWORD key;
    int starts;      // how many of `startMs` are set, newest last
    ULONGLONG startMs[kSteadyIntervals + 1];
    ULONGLONG lastMs;
    bool steady;     // the current burst's verdict
};

// True when the injected record is a nudge of a burst at a steady period: a jiggler's, not a
// person's. Any other injected input is a person's and starts the history afresh; so do the
// first bursts, until a steady period has shown.
bool IsJigglerNudge(NudgeHistory* history, const RAWINPUT& input, ULONGLONG nowMs);
