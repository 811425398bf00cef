#include "protect/input_patterns.h"

namespace {

DWORD KeyOf(const RAWKEYBOARD& keyboard) {
    DWORD prefix = keyboard.Flags & (RI_KEY_E0 | RI_KEY_E1);
    return (static_cast<DWORD>(keyboard.VKey) << 16) | (prefix << 12) | (keyboard.MakeCode & 0x0FFFu);
}

bool IsTinyMove(const RAWMOUSE& mouse) {
    // Absolute moves (pens, eye control, remote-control tools) say nothing of their size alone.
    if (mouse.usFlags & MOUSE_MOVE_ABSOLUTE) return false;
    if (mouse.usButtonFlags != 0) return false;
    return mouse.lLastX >= -kNudgePixels && mouse.lLastX <= kNudgePixels && mouse.lLastY >= -kNudgePixels &&
           mouse.lLastY <= kNudgePixels;
}

// Each interval within kSteadyPercent of their mean: |interval * n - span| < span * percent / 100.
bool SteadyPeriod(const NudgeHistory& history) {
    if (history.starts < kSteadyIntervals + 1) return false;
    ULONGLONG span = history.startMs[kSteadyIntervals] - history.startMs[0];
    for (int i = 1; i <= kSteadyIntervals; ++i) {
        ULONGLONG scaled = (history.startMs[i] - history.startMs[i - 1]) * kSteadyIntervals;
        ULONGLONG off = scaled > span ? scaled - span : span - scaled;
        if (off * 100u >= span * kSteadyPercent) return false;
    }
    return true;
}

void StartBurst(NudgeHistory* history, ULONGLONG nowMs) {
    if (history->starts == kSteadyIntervals + 1) {
        for (int i = 1; i <= kSteadyIntervals; ++i) history->startMs[i - 1] = history->startMs[i];
        --history->starts;
    }
    history->startMs[history->starts++] = nowMs;
    history->steady = SteadyPeriod(*history);
}

}  // namespace

KeyStroke NoteKeyStroke(HeldKey* held, const RAWKEYBOARD& keyboard, ULONGLONG nowMs) {
    DWORD key = KeyOf(keyboard);
    if (keyboard.Flags & RI_KEY_BREAK) {
        if (held->down && held->key == key) held->down = false;
        return KeyStroke::Release;
    }
    if (held->down && held->key == key) return KeyStroke::Repeat;
    *held = {true, key, nowMs};
    return KeyStroke::Press;
}

bool IsJigglerNudge(NudgeHistory* history, const RAWINPUT& input, ULONGLONG nowMs) {
    bool pointer = input.header.dwType == RIM_TYPEMOUSE;
    bool nudge = pointer ? IsTinyMove(input.data.mouse) : input.header.dwType == RIM_TYPEKEYBOARD;
    if (!nudge) {
        *history = {};
        return false;
    }
    DWORD key = pointer ? 0 : KeyOf(input.data.keyboard);
    bool sameKind = history->starts > 0 && history->pointer == pointer && history->key == key;
    if (!sameKind) {
        *history = {};
        history->pointer = pointer;
        history->key = key;
    }
    if (sameKind && nowMs - history->lastMs < kNudgeBurstMs) {
        history->lastMs = nowMs;
        return history->steady;
    }
    history->lastMs = nowMs;
    StartBurst(history, nowMs);
    return history->steady;
}
